#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Lanrove. All rights reserved.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: site_report
short_description: Run the site doctor and write the handover report on the site PC
description:
  - Runs C(lanrove-cli doctor --json) and C(lanrove-cli report --out) on the site PC and
    returns the doctor's findings and the report's path there.
  - Bring the report to the controller with M(ansible.builtin.fetch) (see the example).
version_added: 1.0.6
author:
  - Lanrove Setup developers
extends_documentation_fragment:
  - lanrove.setup.common
options:
  dest:
    description:
      - The report file on the site PC; its name gives the format, C(.html) or C(.pdf).
    type: path
    required: true
  snapshots:
    description:
      - Add a picture from each camera that can give one.
    type: bool
    default: false
  fail_on_errors:
    description:
      - Fail the task when the doctor finds an error (the report is written first).
    type: bool
    default: false
attributes:
  check_mode:
    support: full
    description: The doctor and the report change nothing on the cameras; the report is
      written in check mode too.
  diff_mode:
    support: none
notes:
  - The task never reports C(changed); the report is output, not a change of the site.
'''

EXAMPLES = r'''
- name: Write the handover report on the site PC
  lanrove.setup.site_report:
    dest: /tmp/lanrove-report.html
  register: report

- name: Bring it to the controller as REPORT_DIR/HOST.html
  ansible.builtin.fetch:
    src: "{{ report.path }}"
    dest: "{{ report_dir }}/{{ inventory_hostname }}.html"
    flat: true
'''

RETURN = r'''
path:
  description: The report file on the site PC.
  returned: success
  type: str
doctor:
  description: The doctor's result.
  returned: success
  type: dict
  contains:
    cameras:
      description: How many cameras were checked.
      type: int
    counts:
      description: Findings by severity.
      type: dict
      sample: {"warning": 1}
    findings:
      description: The findings (C(code), C(severity), C(scope), C(mac), C(ip), C(evidence),
        C(fix)).
      type: list
      elements: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.lanrove.setup.plugins.module_utils.lanrove_cli import (
    COMMON_ARGS, EXIT_FAILURE, EXIT_OK, command_line, doctor_summary, failure_text, run_cli,
    run_json)


def main():
    spec = dict(COMMON_ARGS)
    spec.update(
        dest=dict(type='path', required=True),
        snapshots=dict(type='bool', default=False),
        fail_on_errors=dict(type='bool', default=False),
    )
    module = AnsibleModule(argument_spec=spec, supports_check_mode=True)
    p = module.params
    if not p['dest'].endswith(('.html', '.htm', '.pdf')):
        module.fail_json(msg='dest must end in .html or .pdf: %s' % p['dest'])
    # Exit 1: some finding is an error, which the report shows.
    dummy, doc, dummy = run_json(
        module, command_line(p['cli'], 'doctor', p['interface'], p['home'], ['--json', '--quiet']),
        ok_codes=(EXIT_OK, EXIT_FAILURE))
    doctor = doctor_summary(doc)
    extra = ['--out', p['dest'], '--quiet'] + (['--snapshots'] if p['snapshots'] else [])
    rc, dummy, err = run_cli(module, command_line(p['cli'], 'report', p['interface'], p['home'],
                                                  extra))
    if rc != EXIT_OK:
        module.fail_json(msg=failure_text(rc, err), rc=rc, doctor=doctor)
    result = dict(changed=False, path=p['dest'], doctor=doctor)
    errors = doctor['counts'].get('error', 0)
    if p['fail_on_errors'] and errors:
        module.fail_json(msg='the doctor found %d errors' % errors, **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
