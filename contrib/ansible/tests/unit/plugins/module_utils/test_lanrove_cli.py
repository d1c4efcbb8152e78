# -*- coding: utf-8 -*-
# Copyright 2026 Lanrove. All rights reserved.
"""The mapping from lanrove-cli's JSON documents to task results (no Ansible run needed)."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import sys
import unittest

try:
    from ansible_collections.lanrove.setup.plugins.module_utils import lanrove_cli as cli
except ImportError:  # run from the checkout: python3 -m unittest
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', '..', '..', '..',
                                    'plugins', 'module_utils'))
    import lanrove_cli as cli


def row(line, state, changes=(), reason='', message='', before=None, after=None):
    return dict(line=line, mac='00:1B:7C:00:09:%02d' % line, state=state, reason=reason,
                message=message, changes=list(changes), found=state != 'not-found',
                before=before, after=after)


def doc(rows, **extra):
    counts = {}
    for r in rows:
        counts[r['state']] = counts.get(r['state'], 0) + 1
    summary = dict(rows=len(rows), ready=counts.get('ready', 0), set=counts.get('set', 0),
                   unchanged=counts.get('unchanged', 0), refused=counts.get('refused', 0),
                   not_found=counts.get('not-found', 0), caution=counts.get('caution', 0))
    d = dict(schema=1, rows=rows, summary=summary, cancelled=False)
    d.update(extra)
    return d


class ParseDocument(unittest.TestCase):
    def test_reads_an_object_of_the_known_schema(self):
        self.assertEqual(cli.parse_document('{"schema": 1, "cameras": []}\n')['cameras'], [])

    def test_refuses_what_it_cannot_trust(self):
        for text, words in (('', 'no JSON'), ('progress 3/9', 'not JSON'),
                            ('[1, 2]', 'not an object'), ('{"cameras": []}', 'older'),
                            ('{"schema": 2}', 'schema 2')):
            with self.assertRaises(cli.CliError) as e:
                cli.parse_document(text)
            self.assertIn(words, str(e.exception), text)


class CommandLine(unittest.TestCase):
    def test_options_follow_the_command_and_no_password_is_on_it(self):
        argv = cli.command_line('lanrove-cli', 'apply', 'eth1', '/srv/h',
                                ['p.csv', '--user', 'admin1', '--password-file', '-'])
        self.assertEqual(argv, ['lanrove-cli', 'apply', 'p.csv', '--user', 'admin1',
                                '--password-file', '-', '--interface', 'eth1', '--home',
                                '/srv/h'])
        self.assertEqual(cli.command_line('x', 'search'), ['x', 'search'])

    def test_failure_text_keeps_the_last_lines(self):
        self.assertEqual(cli.failure_text(2, 'a\n\nb\nc\nlanrove-cli apply: line 3: bad MAC\n'),
                         'lanrove-cli exited with 2: b; c; lanrove-cli apply: line 3: bad MAC')
        self.assertIn('no message', cli.failure_text(1, ''))


class PlanResult(unittest.TestCase):
    def test_a_second_run_with_every_row_unchanged_is_not_a_change(self):
        r = cli.plan_result(doc([row(2, 'unchanged'), row(3, 'unchanged')]), 0, False)
        self.assertFalse(r['changed'])
        self.assertNotIn('failed', r)
        self.assertEqual(r['msg'], '0 set, 2 unchanged of 2 rows')

    def test_changed_only_when_some_row_was_sent(self):
        r = cli.plan_result(doc([row(2, 'set', ['ip']), row(3, 'unchanged')]), 0, False)
        self.assertTrue(r['changed'])
        self.assertNotIn('failed', r)
        # A setting that went out without a confirmed result may still have changed the camera.
        r = cli.plan_result(doc([row(2, 'caution', ['ip'], 'not-set', 'no answer')]), 1, False)
        self.assertTrue(r['changed'])
        self.assertTrue(r['failed'])

    def test_check_mode_counts_ready_rows_as_changes_and_ready_is_not_a_failure(self):
        r = cli.plan_result(doc([row(2, 'ready', ['ip']), row(3, 'unchanged')], dry_run=True),
                            0, True)
        self.assertTrue(r['changed'])
        self.assertNotIn('failed', r)
        # Outside check mode a row left ready was never sent: that is a failure.
        r = cli.plan_result(doc([row(2, 'ready', ['ip'])]), 0, False)
        self.assertFalse(r['changed'])
        self.assertTrue(r['failed'])

    def test_refused_rows_fail_the_task_with_their_reasons(self):
        rows = [row(2, 'set', ['ip']), row(6, 'refused', [], 'address-of-listed-camera',
                                            '192.168.0.60 is the address of listed camera'),
                row(5, 'not-found', [], 'not-found', 'no camera with this MAC was found')]
        r = cli.plan_result(doc(rows), 1, False)
        self.assertTrue(r['failed'])
        self.assertTrue(r['changed'])
        self.assertIn('line 6 00:1B:7C:00:09:06: refused (address-of-listed-camera)', r['msg'])
        self.assertIn('line 5 00:1B:7C:00:09:05: not-found', r['msg'])
        self.assertNotIn('line 2', r['msg'])

    def test_an_exit_code_alone_still_fails(self):
        r = cli.plan_result(doc([row(2, 'set', ['ip'])]), 1, False)
        self.assertTrue(r['failed'])
        self.assertIn('exited with 1', r['msg'])

    def test_a_cancelled_run_fails(self):
        r = cli.plan_result(doc([row(2, 'set', ['ip'])], cancelled=True), 130, False)
        self.assertTrue(r['failed'])
        self.assertIn('cancelled', r['msg'])


class PlanDiff(unittest.TestCase):
    def test_one_diff_per_sent_row_with_the_changed_fields_only(self):
        before = dict(ip='192.168.0.2', mask='255.255.255.0', title='')
        after = dict(ip='192.168.0.41', mask='255.255.255.0', title='Gate')
        rows = [row(2, 'set', ['ip', 'title'], before=before, after=after),
                row(3, 'unchanged', before=before, after=before),
                row(4, 'refused', [], 'bad-mask', before=before, after=after)]
        diffs = cli.plan_diff(rows)
        self.assertEqual(len(diffs), 1)
        self.assertEqual(diffs[0]['before'], 'ip: 192.168.0.2\ntitle: \n')
        self.assertEqual(diffs[0]['after'], 'ip: 192.168.0.41\ntitle: Gate\n')
        self.assertIn('line 2 00:1B:7C:00:09:02', diffs[0]['before_header'])


class Facts(unittest.TestCase):
    def test_search_document_to_facts(self):
        d = json.loads('{"schema": 1, "cameras": [{"mac": "B"}, {"mac": "A"}],'
                       ' "counters": {"total": 2}}')
        f = cli.camera_facts(d)
        self.assertEqual(f['lanrove_camera_macs'], ['A', 'B'])
        self.assertEqual(f['lanrove_camera_counters'], {'total': 2})
        self.assertEqual(cli.camera_facts({'schema': 1})['lanrove_cameras'], [])


class FirmwareResult(unittest.TestCase):
    def test_update_changed_when_any_camera_took_an_image(self):
        cams = [dict(mac='A', result='completed'), dict(mac='B', result='not-needed'),
                dict(mac='C', result='sent-not-verified')]
        r = cli.firmware_result(dict(schema=1, cameras=cams, cancelled=False), 0, False)
        self.assertTrue(r['changed'])
        self.assertNotIn('failed', r)
        self.assertIn('(1 not verified)', r['msg'])
        r = cli.firmware_result(dict(schema=1, cameras=cams[1:2], cancelled=False), 0, False)
        self.assertFalse(r['changed'])

    def test_a_failed_camera_fails_the_task_and_names_it(self):
        cams = [dict(mac='A', result='completed'), dict(mac='B', result='failed')]
        r = cli.firmware_result(dict(schema=1, cameras=cams, cancelled=False), 1, False)
        self.assertTrue(r['failed'])
        self.assertTrue(r['changed'])
        self.assertIn('B (failed)', r['msg'])

    def test_check_mode_reports_what_would_be_updated(self):
        cams = [dict(mac='A', status='update-ready', reachable=True),
                dict(mac='B', status='latest', reachable=True)]
        r = cli.firmware_result(dict(schema=1, cameras=cams, updateReady=True), 0, True)
        self.assertTrue(r['changed'])
        self.assertEqual(r['msg'], '1 of 2 cameras would be updated')
        cams[0]['reachable'] = False
        r = cli.firmware_result(dict(schema=1, cameras=cams, updateReady=True), 1, True)
        self.assertTrue(r['failed'])
        self.assertIn('A', r['msg'])


class DoctorSummary(unittest.TestCase):
    def test_counts_by_severity(self):
        d = dict(schema=1, cameras=3, findings=[dict(severity='error'), dict(severity='warning'),
                                                dict(severity='error')])
        s = cli.doctor_summary(d)
        self.assertEqual(s['counts'], {'error': 2, 'warning': 1})
        self.assertEqual(s['cameras'], 3)


if __name__ == '__main__':
    unittest.main()
