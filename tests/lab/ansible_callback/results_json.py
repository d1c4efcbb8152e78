# Prints one JSON document of every task's result per host when the run ends, for the lab
# test of the example playbook (ansible-core alone has no JSON output).

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'stdout'
    CALLBACK_NAME = 'results_json'

    def __init__(self):
        super(CallbackModule, self).__init__()
        self.plays = []

    def v2_playbook_on_play_start(self, play):
        self.plays.append(dict(play=dict(name=play.get_name()), tasks=[]))

    def v2_playbook_on_task_start(self, task, is_conditional):
        self.plays[-1]['tasks'].append(dict(task=dict(name=task.get_name()), hosts={}))

    def _keep(self, result, **extra):
        r = dict(result._result)
        r.update(extra)
        self.plays[-1]['tasks'][-1]['hosts'][result._host.get_name()] = r

    def v2_runner_on_ok(self, result):
        self._keep(result)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._keep(result, failed=True)

    def v2_runner_on_skipped(self, result):
        self._keep(result, skipped=True)

    def v2_runner_on_unreachable(self, result):
        self._keep(result, unreachable=True)

    def v2_playbook_on_stats(self, stats):
        hosts = sorted(stats.processed.keys())
        self._display.display(json.dumps(
            dict(plays=self.plays, stats=dict((h, stats.summarize(h)) for h in hosts)),
            default=str))
