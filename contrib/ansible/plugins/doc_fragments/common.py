# -*- coding: utf-8 -*-
# Copyright 2026 Lanrove. All rights reserved.

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    # The options every module passes to lanrove-cli.
    DOCUMENTATION = r'''
options:
  cli:
    description:
      - The program on the site PC, a name on C(PATH) or a full path.
    type: str
    default: lanrove-cli
  interface:
    description:
      - Use only this network interface of the site PC (for example C(eth1)), as
        C(lanrove-cli --interface) does. Default is every adapter with an IPv4 address.
      - Not taken by M(lanrove.setup.camera_facts), whose search covers every adapter.
    type: str
  home:
    description:
      - The program's folder for its settings, logs and journal (C(lanrove-cli --home)).
    type: path
notes:
  - The task's C(environment) reaches the program, for example C(LANROVE_TIME_SCALE) in a lab.
  - The modules read the program's JSON schema 1 (its C(schema) key).
requirements:
  - lanrove-cli 1.0.6 or later on the site PC (the C(lanrove-setup) package)
'''
