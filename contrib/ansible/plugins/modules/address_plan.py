#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Lanrove. All rights reserved.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: address_plan
short_description: Set a site's cameras from an address plan
description:
  - Runs C(lanrove-cli apply) with an address plan (CSV with a C(mac) column and any of
    C(ip), C(mask), C(gateway), C(port), C(ssl), C(title), C(user), C(password)) on the site PC.
  - A camera that already has every planned value is left alone (its row is C(unchanged)) and
    nothing is sent to it, so a plan applied again reports no change and sends nothing.
  - The task fails, naming each row's reason, when a row is refused, its camera is not found or
    a setting did not take.
version_added: 1.0.6
author:
  - Lanrove Setup developers
extends_documentation_fragment:
  - lanrove.setup.common
options:
  content:
    description:
      - The plan's text, typically read on the controller with
        C(lookup('ansible.builtin.file', ...)). Written to a private temporary file on the site
        PC for the run and removed afterwards.
      - Exactly one of C(content) and C(path) is required.
    type: str
  path:
    description:
      - A plan file that is already on the site PC.
    type: path
  user:
    description:
      - The camera account for the rows that give no C(user) and C(password) of their own,
        used where a camera refuses the default account.
    type: str
  password:
    description:
      - The password of C(user). Handed to the program on its standard input, never on its
        command line.
    type: str
attributes:
  check_mode:
    support: full
    description: Runs C(apply --dry-run), which checks every row as a real run would (the
      setting rules, the login test, the free-address probe) and sends no setting.
  diff_mode:
    support: full
    description: One diff per row that is (or would be) sent, the camera's values before and
      the planned ones after.
'''

EXAMPLES = r'''
- name: Apply the site's plan from the controller
  lanrove.setup.address_plan:
    content: "{{ lookup('ansible.builtin.file', plan_dir ~ '/' ~ inventory_hostname ~ '.csv') }}"
    user: "{{ camera_user | default(omit) }}"
    password: "{{ camera_password | default(omit) }}"

- name: A plan already on the site PC, one adapter only
  lanrove.setup.address_plan:
    path: /srv/site/plan.csv
    interface: eth1
'''

RETURN = r'''
rows:
  description:
    - Every row of the plan as C(lanrove-cli apply --json) reports it, with C(line), C(mac),
      C(state) (C(set), C(unchanged), C(ready) in check mode, C(not-found), C(refused),
      C(caution)), C(reason), C(message), C(before), C(after) and C(changes) (the fields sent).
  returned: when the program ran
  type: list
  elements: dict
summary:
  description: Row counts by state.
  returned: when the program ran
  type: dict
  sample: {"rows": 3, "set": 2, "unchanged": 1, "ready": 0, "not_found": 0, "refused": 0,
           "caution": 0}
cancelled:
  description: Whether the run was cut short.
  returned: when the program ran
  type: bool
rc:
  description: The program's exit code.
  returned: when the program ran
  type: int
'''

import os
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.lanrove.setup.plugins.module_utils.lanrove_cli import (
    COMMON_ARGS, EXIT_CANCELLED, EXIT_FAILURE, EXIT_OK, command_line, plan_diff, plan_result,
    run_json)


def write_private(module, text):
    """The plan in a file only this user can read (it may hold camera accounts)."""
    fd, name = tempfile.mkstemp(prefix='lanrove-plan-', suffix='.csv',
                                dir=module.tmpdir)
    try:
        os.fchmod(fd, 0o600)
        with os.fdopen(fd, 'wb') as f:
            f.write(text.encode('utf-8'))
            if not text.endswith('\n'):
                f.write(b'\n')
    except Exception:
        os.unlink(name)
        raise
    return name


def main():
    spec = dict(COMMON_ARGS)
    spec.update(
        content=dict(type='str', no_log=True),
        path=dict(type='path'),
        user=dict(type='str'),
        password=dict(type='str', no_log=True),
    )
    module = AnsibleModule(
        argument_spec=spec,
        mutually_exclusive=[('content', 'path')],
        required_one_of=[('content', 'path')],
        required_together=[('user', 'password')],
        supports_check_mode=True,
    )
    p = module.params
    plan = p['path']
    written = None
    if p['content'] is not None:
        written = plan = write_private(module, p['content'])
    try:
        extra = [plan, '--json', '--dry-run' if module.check_mode else '--yes']
        if p['user']:
            extra += ['--user', p['user'], '--password-file', '-']
        argv = command_line(p['cli'], 'apply', p['interface'], p['home'], extra)
        rc, doc, dummy = run_json(module, argv, ok_codes=(EXIT_OK, EXIT_FAILURE, EXIT_CANCELLED),
                                  password=p['password'] if p['user'] else None)
    finally:
        if written:
            os.unlink(written)
    result = plan_result(doc, rc, module.check_mode)
    if module._diff:
        result['diff'] = plan_diff(result['rows'])
    if result.pop('failed', False):
        module.fail_json(**result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
