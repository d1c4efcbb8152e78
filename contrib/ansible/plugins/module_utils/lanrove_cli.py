# -*- coding: utf-8 -*-
# Copyright 2026 Lanrove. All rights reserved.
"""Runs lanrove-cli on the site PC and turns its JSON documents into module results.

The modules stay thin: the program does every protocol step, these helpers only build its
command line, hand it the password on standard input and map what it prints. The mapping
functions take plain data, so that they are tested without Ansible or a camera.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

# The JSON format version this collection reads. Keys are only ever added within a version;
# a program that prints another version changed a key this collection relies on.
SCHEMA = 1

# Exit codes shared by every command.
EXIT_OK = 0
EXIT_FAILURE = 1
EXIT_USAGE = 2
EXIT_CANCELLED = 130

COMMON_ARGS = dict(
    cli=dict(type='str', default='lanrove-cli'),
    interface=dict(type='str'),
    home=dict(type='path'),
)


class CliError(Exception):
    """The program could not be run, or printed no document this collection reads."""


def parse_document(stdout):
    """The JSON document a command printed, checked for the schema this collection reads."""
    text = (stdout or '').strip()
    if not text:
        raise CliError('lanrove-cli printed no JSON document')
    try:
        doc = json.loads(text)
    except ValueError as e:
        raise CliError('lanrove-cli printed something that is not JSON: %s' % e)
    if not isinstance(doc, dict):
        raise CliError('lanrove-cli printed a JSON %s, not an object' % type(doc).__name__)
    schema = doc.get('schema')
    if schema is None:
        raise CliError('lanrove-cli gave no "schema": the program is older than this collection')
    if schema != SCHEMA:
        raise CliError('lanrove-cli speaks JSON schema %r; this collection reads schema %d'
                       % (schema, SCHEMA))
    return doc


def command_line(cli, command, interface=None, home=None, extra=None):
    """argv for one command; the password never goes here (see run_cli)."""
    argv = [cli, command]
    argv.extend(extra or [])
    if interface:
        argv.extend(['--interface', interface])
    if home:
        argv.extend(['--home', home])
    return argv


def failure_text(rc, stderr):
    """The last lines the program wrote on standard error, for a failed task's message."""
    lines = [line for line in (stderr or '').splitlines() if line.strip()]
    tail = '; '.join(lines[-3:]) if lines else 'no message'
    return 'lanrove-cli exited with %d: %s' % (rc, tail)


def run_cli(module, argv, password=None):
    """Runs argv; a password goes on standard input (with --password-file - in argv).

    Returns (rc, stdout, stderr). A program that cannot be started fails the task.
    """
    path = module.get_bin_path(argv[0], required=False) or argv[0]
    argv = [path] + list(argv[1:])
    kwargs = dict(check_rc=False)
    if password is not None:
        kwargs['data'] = password
        kwargs['binary_data'] = False  # adds the line end the program reads up to
    try:
        rc, out, err = module.run_command(argv, **kwargs)
    except OSError as e:
        module.fail_json(msg='cannot run %s: %s' % (argv[0], e))
    if rc == 127 or (rc != 0 and not out and 'No such file' in (err or '')):
        module.fail_json(msg='cannot run %s: %s' % (argv[0], (err or '').strip()), rc=rc)
    return rc, out, err


def run_json(module, argv, ok_codes=(EXIT_OK,), password=None):
    """Runs a --json command and returns (rc, doc); fails the task when no document came."""
    rc, out, err = run_cli(module, argv, password=password)
    try:
        doc = parse_document(out)
    except CliError as e:
        if rc in ok_codes:
            module.fail_json(msg=str(e), rc=rc, stderr=err)
        module.fail_json(msg=failure_text(rc, err), rc=rc, stderr=err)
    return rc, doc, err


# ---- camera_facts ----

def camera_facts(doc):
    """The search document as facts: the cameras and the counters."""
    cameras = doc.get('cameras') or []
    return dict(
        lanrove_cameras=cameras,
        lanrove_camera_counters=doc.get('counters') or {},
        lanrove_camera_macs=sorted(c.get('mac', '') for c in cameras),
    )


# ---- address_plan ----

FIELDS = ('ip', 'mask', 'gateway', 'port', 'ssl', 'title')


def _row_label(row):
    return 'line %s %s' % (row.get('line'), row.get('mac'))


def _fields_text(fields, names):
    if not fields:
        return ''
    return ''.join('%s: %s\n' % (n, fields.get(n, '')) for n in names)


def plan_diff(rows):
    """Before and after of every row that sends (or sent) something, one diff per row."""
    out = []
    for row in rows:
        changes = row.get('changes') or []
        if not changes or row.get('state') not in ('ready', 'set', 'caution'):
            continue
        label = _row_label(row)
        out.append(dict(before_header='%s (camera now)' % label,
                        after_header='%s (planned)' % label,
                        before=_fields_text(row.get('before'), changes),
                        after=_fields_text(row.get('after'), changes)))
    return out


def plan_result(doc, rc, check_mode):
    """The address_plan task's result from an apply document and its exit code.

    changed: some row was sent (set, or sent without a confirmed result); in check mode, some
    row is ready to be sent. failed: any row that is neither set (ready in check mode) nor
    unchanged, with each such row's reason in msg.
    """
    rows = doc.get('rows') or []
    summary = doc.get('summary') or {}
    good = ('unchanged', 'ready') if check_mode else ('unchanged', 'set')
    bad = [r for r in rows if r.get('state') not in good]
    if check_mode:
        changed = any(r.get('state') == 'ready' for r in rows)
    else:
        changed = any(r.get('state') in ('set', 'caution') for r in rows)
    result = dict(changed=changed, rows=rows, summary=summary, rc=rc,
                  cancelled=bool(doc.get('cancelled')))
    if doc.get('cancelled'):
        result['failed'] = True
        result['msg'] = 'the run was cancelled before every row was done'
    elif bad or rc != EXIT_OK:
        result['failed'] = True
        reasons = ['%s: %s%s' % (_row_label(r), r.get('state'),
                                 ' (%s) %s' % (r.get('reason'), r.get('message'))
                                 if r.get('reason') else '')
                   for r in bad]
        result['msg'] = ('rows not as planned: ' + '; '.join(reasons)) if reasons else \
            'lanrove-cli apply exited with %d' % rc
    else:
        result['msg'] = '%d set, %d unchanged of %d rows' % (
            summary.get('ready' if check_mode else 'set', 0), summary.get('unchanged', 0),
            len(rows))
    return result


# ---- firmware ----

UPDATED = ('completed', 'sent-not-verified')


def firmware_result(doc, rc, check_mode):
    """The firmware task's result from a fw-check (check mode) or fw-update document."""
    cameras = doc.get('cameras') or []
    result = dict(cameras=cameras, rc=rc)
    if check_mode:
        ready = [c for c in cameras if c.get('status') == 'update-ready']
        result['changed'] = bool(doc.get('updateReady')) or bool(ready)
        unreachable = [c for c in cameras if c.get('reachable') is False]
        if unreachable or rc not in (EXIT_OK,):
            result['failed'] = True
            result['msg'] = 'cameras not reachable: %s' % ', '.join(
                c.get('mac', '?') for c in unreachable) if unreachable else \
                'lanrove-cli fw-check exited with %d' % rc
        else:
            result['msg'] = '%d of %d cameras would be updated' % (len(ready), len(cameras))
        return result
    updated = [c for c in cameras if c.get('result') in UPDATED]
    result['changed'] = bool(updated)
    failed = [c for c in cameras if c.get('result') not in UPDATED + ('not-needed',)]
    if doc.get('cancelled'):
        result['failed'] = True
        result['msg'] = 'the update was cancelled'
    elif failed or rc != EXIT_OK:
        result['failed'] = True
        result['msg'] = 'cameras not updated: %s' % ', '.join(
            '%s (%s)' % (c.get('mac', '?'), c.get('result')) for c in failed) if failed else \
            'lanrove-cli fw-update exited with %d' % rc
    else:
        unverified = [c for c in updated if c.get('result') == 'sent-not-verified']
        result['msg'] = '%d of %d cameras updated%s' % (
            len(updated), len(cameras),
            ' (%d not verified)' % len(unverified) if unverified else '')
    return result


# ---- site_report ----

def doctor_summary(doc):
    """Counts of the doctor's findings by severity, and the findings themselves."""
    findings = doc.get('findings') or []
    counts = {}
    for f in findings:
        counts[f.get('severity', 'unknown')] = counts.get(f.get('severity', 'unknown'), 0) + 1
    return dict(cameras=doc.get('cameras', 0), findings=findings, counts=counts)
