#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Lanrove. All rights reserved.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: firmware
short_description: Bring a site's cameras to the firmware in the site PC's firmware folders
description:
  - Runs the maintenance edition of lanrove-cli on the site PC, C(fw-update --yes) (or
    C(fw-check) in check mode), and returns each camera's result.
  - The cameras restart while they are updated; run the play with C(serial) so that sites
    are updated a few at a time.
version_added: 1.0.6
author:
  - Lanrove Setup developers
extends_documentation_fragment:
  - lanrove.setup.common
options:
  fwtool:
    description:
      - The maintenance edition (a program whose name contains C(_fwtool)).
      - Default is a link named C(lanrove-cli_fwtool) to C(cli), made for the run in the
        module's temporary folder.
    type: str
  macs:
    description:
      - Update only these cameras (default every camera found). A MAC that is not found
        fails the task before anything is sent.
    type: list
    elements: str
    default: []
attributes:
  check_mode:
    support: full
    description: Runs C(fw-check), which compares the versions and sends no firmware.
  diff_mode:
    support: none
'''

EXAMPLES = r'''
- name: Update every camera of the site
  lanrove.setup.firmware:

- name: Two cameras only, with a program installed under its maintenance name
  lanrove.setup.firmware:
    fwtool: /opt/lanrove/lanrove-cli_fwtool
    macs:
      - 00:1B:7C:00:09:01
      - 00:1B:7C:00:09:02
'''

RETURN = r'''
cameras:
  description:
    - One dict per camera as C(fw-update --json) reports it (C(mac), C(ip), C(model),
      C(result) such as C(completed), C(sent-not-verified), C(not-needed), C(failed);
      C(versions)); in check mode as C(fw-check --json) does (C(status) such as
      C(update-ready), C(latest); C(reachable), C(file)).
  returned: when the program ran
  type: list
  elements: dict
rc:
  description: The program's exit code.
  returned: when the program ran
  type: int
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.lanrove.setup.plugins.module_utils.lanrove_cli import (
    COMMON_ARGS, EXIT_CANCELLED, EXIT_FAILURE, EXIT_OK, command_line, firmware_result,
    run_json)


def maintenance_program(module, cli):
    """A link named for the maintenance edition; the program still finds its own folder."""
    target = module.get_bin_path(cli, required=False) or cli
    if not os.path.isabs(target):
        module.fail_json(msg='cannot find %s on the site PC' % cli)
    link = os.path.join(module.tmpdir, 'lanrove-cli_fwtool')
    if not os.path.lexists(link):
        os.symlink(target, link)
    return link


def main():
    spec = dict(COMMON_ARGS)
    spec.update(
        fwtool=dict(type='str'),
        macs=dict(type='list', elements='str', default=[]),
    )
    module = AnsibleModule(argument_spec=spec, supports_check_mode=True)
    p = module.params
    program = p['fwtool'] or maintenance_program(module, p['cli'])
    if module.check_mode:
        argv = command_line(program, 'fw-check', p['interface'], p['home'], ['--json'])
    else:
        extra = ['--yes', '--json', '--quiet']
        for mac in p['macs']:
            extra += ['--mac', mac]
        argv = command_line(program, 'fw-update', p['interface'], p['home'], extra)
    rc, doc, dummy = run_json(module, argv, ok_codes=(EXIT_OK, EXIT_FAILURE, EXIT_CANCELLED))
    if module.check_mode and p['macs']:
        wanted = set(m.upper().replace('-', ':') for m in p['macs'])
        doc = dict(doc, cameras=[c for c in doc.get('cameras') or []
                                 if c.get('mac', '').upper() in wanted])
        doc.pop('updateReady', None)
    result = firmware_result(doc, rc, module.check_mode)
    if result.pop('failed', False):
        module.fail_json(**result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
