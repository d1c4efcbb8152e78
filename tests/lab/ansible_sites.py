#!/usr/bin/env python3
"""The example playbook of the Ansible collection against two simulated sites.

Each site is a lab of its own (lab/lab.sh: a PC namespace and a camera segment). Each site PC
also gets a management link to a controller namespace made here and runs OpenSSH's server on
it; ansible-playbook runs in the controller namespace and reaches the sites over SSH, as an
integrator's controller does. Every packet stays in these namespaces.

Checks: the cameras of both sites gathered as facts; check mode sends no setting; the plan of
site A set (the cameras at their new addresses); a second run reports the plan task unchanged
and sends no setting; both reports on the controller. Prints the wall times of a run over both
sites and over one.

usage: ansible_sites.py SOURCE_DIR CLI CAMSIM
Exit 0 passed, 1 failed, 77 skipped (no lab, ansible-playbook or sshd here; CI fails instead).
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

SCALE = '0.05'
LAB_READY_SECONDS = 120  # building a lab takes a second or two; bounded for a loaded machine
PLAYBOOK_SECONDS = 900   # one run takes well under a minute; bounded at many times that


def skip(why):
    if os.environ.get('CI'):
        print('FAIL (CI): ' + why, file=sys.stderr)
        sys.exit(1)
    print('SKIP: ' + why)
    sys.exit(77)


class Failed(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failed(what)


class Site:
    """One lab held open by a script that waits for its stop file."""

    def __init__(self, ws, name, source, camsim, cli, fleet):
        self.name = name
        self.dir = os.path.join(ws, name)
        os.makedirs(os.path.join(self.dir, 'home'))
        self.log = os.path.join(self.dir, 'camsim.log')
        self.stop = os.path.join(self.dir, 'stop')
        self.nsfile = os.path.join(self.dir, 'ns')
        hold = os.path.join(self.dir, 'hold.sh')
        with open(hold, 'w') as f:
            f.write('echo "$LANROVE_LAB_PC_NS" > %s.tmp && mv %s.tmp %s\n'
                    'for i in $(seq %d); do [ -e %s ] && exit 0; sleep 0.5; done\nexit 1\n'
                    % (self.nsfile, self.nsfile, self.nsfile,
                       2 * (PLAYBOOK_SECONDS * 4 + 120), self.stop))
        self.err = open(os.path.join(self.dir, 'lab.err'), 'w')
        self.proc = subprocess.Popen(
            [os.path.join(source, 'lab', 'lab.sh'), '--camsim', camsim, '--fleet', fleet,
             '--scale', SCALE, '--camsim-log', self.log, '--', 'bash', hold],
            stdin=subprocess.DEVNULL, stdout=self.err, stderr=self.err)
        self.wrapper = os.path.join(self.dir, 'lanrove-cli')
        self.cli = cli
        self.ns = None
        self.mgmt = None
        self.sshd = None

    def wait_ready(self, deadline):
        while time.monotonic() < deadline:
            if os.path.exists(self.nsfile):
                ns = open(self.nsfile).read().strip()
                # The program under the name it was called by (the maintenance edition goes by
                # its name), inside the site's PC namespace, with a folder of its own.
                self.ns = ns
                # Run over SSH by the site's own server, so already inside the PC namespace.
                with open(self.wrapper, 'w') as f:
                    f.write('#!/bin/bash\nexport LANROVE_HOME=%s\n'
                            'exec -a "$(basename "$0")" %s "$@"\n'
                            % (os.path.join(self.dir, 'home'), self.cli))
                os.chmod(self.wrapper, 0o755)
                return
            if self.proc.poll() is not None:
                raise Failed('the lab of %s ended: %s' % (self.name, self.errors()))
            time.sleep(0.1)
        raise Failed('the lab of %s did not get ready' % self.name)

    def start_sshd(self, controller, index):
        """The management link (controller .1, site PC .2) and the site PC's SSH server on it."""
        self.mgmt = '172.31.%d.2' % index
        ctl_if, pc_if = 'lrm%da' % index, 'lrm%db' % index
        sh(['ip', '-n', controller.ns, 'link', 'add', ctl_if, 'type', 'veth',
            'peer', 'name', pc_if, 'netns', self.ns])
        sh(['ip', '-n', controller.ns, 'addr', 'add', '172.31.%d.1/30' % index, 'dev', ctl_if])
        sh(['ip', '-n', self.ns, 'addr', 'add', self.mgmt + '/30', 'dev', pc_if])
        sh(['ip', '-n', controller.ns, 'link', 'set', ctl_if, 'up'])
        sh(['ip', '-n', self.ns, 'link', 'set', pc_if, 'up'])
        config = os.path.join(self.dir, 'sshd_config')
        with open(config, 'w') as f:
            f.write('ListenAddress %s\nHostKey %s\nAuthorizedKeysFile %s\n'
                    'PermitRootLogin prohibit-password\nPasswordAuthentication no\n'
                    'KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\n'
                    'PidFile %s\nSubsystem sftp internal-sftp\n'
                    % (self.mgmt, controller.host_key, controller.authorized,
                       os.path.join(self.dir, 'sshd.pid')))
        os.makedirs('/run/sshd', mode=0o755, exist_ok=True)  # its privilege separation folder
        self.sshd = subprocess.Popen(
            ['ip', 'netns', 'exec', self.ns, SSHD, '-D', '-e', '-f', config],
            stdin=subprocess.DEVNULL, stdout=self.err, stderr=self.err)

    def settings_sent(self):
        if not os.path.exists(self.log):
            return 0
        return sum(1 for line in open(self.log) if 'ipset ' in line)

    def errors(self):
        self.err.flush()
        return open(self.err.name).read()

    def close(self):
        if self.sshd is not None:
            self.sshd.terminate()
            self.sshd.wait(timeout=30)
        open(self.stop, 'w').close()
        try:
            self.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.proc.terminate()  # lab.sh's trap removes its namespaces
            self.proc.wait(timeout=60)
        self.err.close()


SSHD = '/usr/sbin/sshd'


def sh(cmd):
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       universal_newlines=True)
    if p.returncode != 0:
        raise Failed('%s: %s' % (' '.join(cmd), p.stdout))
    return p.stdout


class Controller:
    """The integrator's controller: a namespace of its own with an SSH key the sites accept."""

    def __init__(self, ws):
        self.ns = 'lr-ctl-%d' % os.getpid()
        self.key = os.path.join(ws, 'id_ed25519')
        self.host_key = os.path.join(ws, 'host_ed25519')
        self.authorized = os.path.join(ws, 'authorized_keys')
        sh(['ip', 'netns', 'add', self.ns])
        sh(['ip', '-n', self.ns, 'link', 'set', 'lo', 'up'])
        for path in (self.key, self.host_key):
            sh(['ssh-keygen', '-q', '-t', 'ed25519', '-N', '', '-f', path])
        shutil.copy(self.key + '.pub', self.authorized)

    def ssh_args(self):
        return ('-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null '
                '-o BatchMode=yes -o ConnectTimeout=20')

    def wait_ssh(self, site, deadline):
        while time.monotonic() < deadline:
            p = subprocess.run(['ip', 'netns', 'exec', self.ns, 'ssh', '-i', self.key] +
                               self.ssh_args().split() + ['root@' + site.mgmt, 'true'],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if p.returncode == 0:
                return
            if site.sshd.poll() is not None:
                raise Failed('the SSH server of %s ended: %s' % (site.name, site.errors()))
            time.sleep(0.2)
        raise Failed('no SSH to %s' % site.name)

    def close(self):
        # Whatever ssh left running in the namespace goes with it.
        pids = subprocess.run(['ip', 'netns', 'pids', self.ns], stdout=subprocess.PIPE,
                              universal_newlines=True).stdout.split()
        for pid in pids:
            try:
                os.kill(int(pid), 15)
            except (OSError, ValueError):
                pass
        subprocess.run(['ip', 'netns', 'del', self.ns])


def task_results(run, name):
    """{host: result} of the task called `name` over every play of a run printed by ansible_callback/results_json.py."""
    out = {}
    for play in run['plays']:
        for task in play['tasks']:
            if task['task']['name'] == name:
                out.update(task['hosts'])
    return out


def playbook(source, ws, controller, inventory, extra, *args):
    examples = os.path.join(source, 'contrib', 'ansible', 'examples')
    env = dict(os.environ, ANSIBLE_CONFIG=os.path.join(examples, 'ansible.cfg'),
               ANSIBLE_STDOUT_CALLBACK='results_json',
               ANSIBLE_CALLBACK_PLUGINS=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                     'ansible_callback'),
               ANSIBLE_LOCAL_TEMP=os.path.join(ws, 'ansible-tmp'),
               ANSIBLE_HOME=os.path.join(ws, 'ansible-home'), ANSIBLE_NOCOLOR='1',
               ANSIBLE_REMOTE_TEMP=os.path.join(ws, 'remote-tmp'),
               # No connection outlives the run (the namespace is removed afterwards).
               ANSIBLE_SSH_ARGS='-o ControlMaster=no')
    start = time.monotonic()
    p = subprocess.run(['ip', 'netns', 'exec', controller.ns,
                        'ansible-playbook', '-i', inventory, '-e', '@' + extra,
                        os.path.join(examples, 'site.yml')] + list(args),
                       cwd=examples, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       universal_newlines=True, timeout=PLAYBOOK_SECONDS)
    seconds = time.monotonic() - start
    try:
        run = json.loads(p.stdout)
    except ValueError:
        raise Failed('ansible-playbook %s gave no JSON (rc %d):\n%s\n%s'
                     % (' '.join(args), p.returncode, p.stdout[-3000:], p.stderr[-3000:]))
    return p.returncode, run, seconds, p.stderr


def scenario(source, ws, controller, sites):
    a, b = sites
    plans = os.path.join(ws, 'plans')
    reports = os.path.join(ws, 'reports')
    os.makedirs(plans)
    # Site A gets the two NEW cameras' plan; site B has none, so no plan task runs there.
    shutil.copy(os.path.join(source, 'lab', 'plans', 'site-semicolon-bom.csv'),
                os.path.join(plans, 'site-a.csv'))
    inventory = os.path.join(ws, 'inventory.ini')
    with open(inventory, 'w') as f:
        f.write('[sites]\n')
        for s in sites:
            f.write('%s ansible_host=%s ansible_user=root ansible_ssh_private_key_file=%s '
                    'ansible_ssh_common_args="%s" ansible_python_interpreter=%s '
                    'lanrove_cli=%s\n'
                    % (s.name, s.mgmt, controller.key, controller.ssh_args(), sys.executable,
                       s.wrapper))
    extra = os.path.join(ws, 'extra.json')
    with open(extra, 'w') as f:
        json.dump(dict(lanrove_install=False, lanrove_environment={'LANROVE_TIME_SCALE': SCALE},
                       plan_dir=plans, report_dir=reports), f)

    # Check mode: the plan would change site A, and no setting goes out.
    rc, run, dummy, err = playbook(source, ws, controller, inventory, extra, '--check', '--diff')
    check(rc == 0, 'check run failed (rc %d): %s\n%s' % (rc, json.dumps(run)[-3000:], err[-2000:]))
    plan = task_results(run, "Apply the site's address plan")
    check(plan['site-a'].get('changed') is True, 'check mode: plan would change: %s' % plan)
    check(plan['site-b'].get('skipped') is True, 'site B has no plan: %s' % plan['site-b'])
    check(all(r['state'] == 'ready' for r in plan['site-a']['rows']), plan['site-a'])
    check(len(plan['site-a'].get('diff', [])) == 2, 'a diff per row: %s' % plan['site-a'])
    check(a.settings_sent() == 0 and b.settings_sent() == 0, 'check mode sent a setting')

    # The real run: facts from both sites, the plan set on site A, both reports here.
    rc, run, two_sites, err = playbook(source, ws, controller, inventory, extra)
    check(rc == 0, 'first run failed (rc %d): %s\n%s' % (rc, json.dumps(run)[-3000:], err[-2000:]))
    facts = task_results(run, 'Gather the cameras')
    for s, count in ((a, 6), (b, 4)):
        cams = facts[s.name]['ansible_facts']['lanrove_cameras']
        check(len(cams) == count, '%s: %d cameras as facts, not %d' % (s.name, len(cams), count))
        check(facts[s.name].get('changed') is False, 'facts never change: %s' % facts[s.name])
    plan = task_results(run, "Apply the site's address plan")['site-a']
    check(plan.get('changed') is True and plan['summary']['set'] == 2, 'plan set: %s' % plan)
    check(a.settings_sent() == 2, 'site A got %d settings, not 2' % a.settings_sent())
    check(b.settings_sent() == 0, 'site B got a setting')
    for s in sites:
        path = os.path.join(reports, s.name + '.html')
        check(os.path.isfile(path) and '<html' in open(path, errors='replace').read().lower(),
              'no report of %s at %s' % (s.name, path))
    summary = task_results(run, 'One line per site')
    check('2 set, 0 unchanged' in summary['site-a']['msg'], summary['site-a'])

    # Again: the plan task is unchanged, no setting goes out, the cameras are where planned.
    os.remove(os.path.join(reports, 'site-a.html'))
    rc, run, again, err = playbook(source, ws, controller, inventory, extra)
    check(rc == 0, 'second run failed (rc %d): %s\n%s' % (rc, json.dumps(run)[-3000:], err[-2000:]))
    plan = task_results(run, "Apply the site's address plan")['site-a']
    check(plan.get('changed') is False and plan['summary']['unchanged'] == 2,
          'second run: %s' % plan)
    # Only the fetched report differs (it carries the time it was made).
    for play in run['plays']:
        for task in play['tasks']:
            if task['task']['name'] != 'Bring it to the controller':
                for host, res in task['hosts'].items():
                    check(not res.get('changed'), 'second run: %s changed on %s: %s'
                          % (task['task']['name'], host, res))
    check(a.settings_sent() == 2, 'the second run sent settings')
    cams = task_results(run, 'Gather the cameras')['site-a']['ansible_facts']['lanrove_cameras']
    ips = dict((c['mac'], c['ip']) for c in cams)
    check(ips.get('00:1B:7C:00:09:01') == '192.168.0.41' and
          ips.get('00:1B:7C:00:09:02') == '192.168.0.42', 'cameras as planned: %s' % ips)
    check(os.path.isfile(os.path.join(reports, 'site-a.html')), 'report fetched again')

    # One site alone, for the closing figures (Ansible's forks run the sites at once).
    rc, run, one_site, err = playbook(source, ws, controller, inventory, extra, '--limit', 'site-a')
    check(rc == 0, 'one-site run failed (rc %d)' % rc)
    print('wall time: two sites %.1f s (first run), %.1f s (second); one site %.1f s'
          % (two_sites, again, one_site))


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    source, cli, camsim = (os.path.abspath(a) for a in sys.argv[1:])
    if os.geteuid() != 0:
        skip('the lab needs root (network namespaces)')
    if shutil.which('ansible-playbook') is None:
        skip('ansible-playbook is missing (scripts/setup.sh installs ansible-core)')
    if not os.access(SSHD, os.X_OK) or shutil.which('ssh') is None:
        skip('no SSH server or client (scripts/setup.sh installs openssh-server)')
    if subprocess.run([os.path.join(source, 'lab', 'lab.sh'), '--check'],
                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
        skip('no lab can be built here')
    ws = tempfile.mkdtemp(prefix='lanrove-ansible-')
    os.chmod(ws, 0o755)  # the SSH server reads the keys in it
    sites = []
    controller = None
    try:
        controller = Controller(ws)
        sites = [Site(ws, 'site-a', source, camsim, cli,
                      os.path.join(source, 'lab', 'fleets', 'plan-site.json')),
                 Site(ws, 'site-b', source, camsim, cli,
                      os.path.join(source, 'lab', 'fleets', 'small.json'))]
        deadline = time.monotonic() + LAB_READY_SECONDS
        for s in sites:
            s.wait_ready(deadline)
        for index, s in enumerate(sites, 1):
            s.start_sshd(controller, index)
        for s in sites:
            controller.wait_ssh(s, deadline)
        scenario(source, ws, controller, sites)
        print('PASS')
        return 0
    except (Failed, subprocess.TimeoutExpired) as e:
        print('FAIL: %s' % e, file=sys.stderr)
        for s in sites:
            print('--- %s lab:\n%s' % (s.name, s.errors()), file=sys.stderr)
        return 1
    finally:
        for s in sites:
            s.close()
        if controller is not None:
            controller.close()
        shutil.rmtree(ws, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
