#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Lanrove. All rights reserved.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: camera_facts
short_description: Find the cameras on a site PC's LAN and return them as facts
description:
  - Runs C(lanrove-cli search --json) on the site PC and returns every camera it lists
    (number, status, model, MAC, address, mask, gateway, port, SSL, title, firmware) as facts.
  - Never changes anything; the search only asks the cameras to announce themselves.
version_added: 1.0.6
author:
  - Lanrove Setup developers
options:
  cli:
    description:
      - The program on the site PC, a name on C(PATH) or a full path.
    type: str
    default: lanrove-cli
  home:
    description:
      - The program's folder for its settings, logs and journal (C(lanrove-cli --home)).
    type: path
attributes:
  check_mode:
    support: full
    description: The search runs in check mode too; it changes nothing.
  diff_mode:
    support: none
notes:
  - A LAN without cameras is no failure; the facts are then empty lists.
  - The task's C(environment) reaches the program.
requirements:
  - lanrove-cli 1.0.6 or later on the site PC (the C(lanrove-setup) package)
'''

EXAMPLES = r'''
- name: Find the site's cameras
  lanrove.setup.camera_facts:

- name: Say how many there are
  ansible.builtin.debug:
    msg: "{{ lanrove_camera_counters.total }} cameras, {{ lanrove_camera_counters.new }} NEW"
'''

RETURN = r'''
ansible_facts:
  description: The cameras as facts.
  returned: always
  type: dict
  contains:
    lanrove_cameras:
      description:
        - One dict per camera as C(lanrove-cli search --json) lists it (C(no), C(status),
          C(model), C(mac), C(ip), C(mask), C(gateway), C(port), C(ssl), C(title),
          C(firmware) and more).
      type: list
      elements: dict
      sample: [{"no": "1", "status": "OK", "mac": "00:1B:7C:00:09:01", "ip": "192.168.0.31"}]
    lanrove_camera_counters:
      description: The list's counters.
      type: dict
      sample: {"total": 6, "new": 2, "ok": 4, "attention": 0}
    lanrove_camera_macs:
      description: The MAC addresses of the cameras found, sorted.
      type: list
      elements: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.lanrove.setup.plugins.module_utils.lanrove_cli import (
    EXIT_FAILURE, EXIT_OK, camera_facts, command_line, run_json)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            cli=dict(type='str', default='lanrove-cli'),
            home=dict(type='path'),
        ),
        supports_check_mode=True,
    )
    p = module.params
    # The search takes every adapter; --quiet keeps the progress line off standard error.
    argv = command_line(p['cli'], 'search', home=p['home'], extra=['--json', '--quiet'])
    # Exit 1: no camera was found, which is a fact, not a failure.
    rc, doc, dummy = run_json(module, argv, ok_codes=(EXIT_OK, EXIT_FAILURE))
    if rc not in (EXIT_OK, EXIT_FAILURE):
        module.fail_json(msg='lanrove-cli search exited with %d' % rc, rc=rc)
    module.exit_json(changed=False, ansible_facts=camera_facts(doc))


if __name__ == '__main__':
    main()
