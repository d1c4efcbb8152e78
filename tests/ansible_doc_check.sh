#!/usr/bin/env bash
# Every module of the Ansible collection shows its documentation with ansible-doc (from the
# checkout, through the example's ansible.cfg), and the modules compile.
# usage: ansible_doc_check.sh SOURCE_DIR     exit 77: ansible-doc is missing (CI fails instead)
set -uo pipefail
src=$1
examples="$src/contrib/ansible/examples"
if ! command -v ansible-doc >/dev/null; then
  [ -n "${CI:-}" ] && { echo "ansible-doc is missing (scripts/setup.sh installs ansible-core)" >&2; exit 1; }
  echo "SKIP: ansible-doc is missing"; exit 77
fi
export ANSIBLE_CONFIG="$examples/ansible.cfg" ANSIBLE_NOCOLOR=1
export ANSIBLE_HOME="$(mktemp -d)"; trap 'rm -rf "$ANSIBLE_HOME"' EXIT
rc=0
# The words each page must show: its option names and return values.
declare -A want=(
  [camera_facts]="lanrove_cameras lanrove_camera_counters"
  [address_plan]="content path user password rows summary"
  [firmware]="fwtool macs cameras"
  [site_report]="dest snapshots doctor"
)
listed=$(cd "$examples" && ansible-doc -l lanrove.setup 2>&1)
for m in "${!want[@]}"; do
  grep -q "lanrove.setup.$m" <<<"$listed" || { echo "ansible-doc -l does not list $m: $listed" >&2; rc=1; }
  page=$(cd "$examples" && ansible-doc "lanrove.setup.$m" 2>"$ANSIBLE_HOME/err") ||
    { echo "$m: $(cat "$ANSIBLE_HOME/err")" >&2; rc=1; continue; }
  # Ansible's own complaints about a page (bad markup, unknown keys) come on standard error.
  [ -s "$ANSIBLE_HOME/err" ] && { echo "$m: $(cat "$ANSIBLE_HOME/err")" >&2; rc=1; }
  for w in ${want[$m]} EXAMPLES RETURN; do
    grep -q -- "$w" <<<"$page" || { echo "$m: the page lacks $w" >&2; rc=1; }
  done
done
# The documented options must be those the module's argument spec accepts.
python3 - "$src/contrib/ansible" <<'PY' || rc=1
import ast, sys, yaml, os, re
root = sys.argv[1]
frag = yaml.safe_load(open(os.path.join(root, 'plugins/doc_fragments/common.py')).read()
                      .split("DOCUMENTATION = r'''", 1)[1].split("'''", 1)[0])['options']
bad = 0
for name in ('camera_facts', 'address_plan', 'firmware', 'site_report'):
    path = os.path.join(root, 'plugins/modules', name + '.py')
    text = open(path).read()
    compile(text, path, 'exec')
    tree = ast.parse(text)
    docs = {}
    for node in tree.body:
        if isinstance(node, ast.Assign) and isinstance(node.value, ast.Constant):
            docs[node.targets[0].id] = node.value.value
    doc = yaml.safe_load(docs['DOCUMENTATION'])
    yaml.safe_load(docs['EXAMPLES']); yaml.safe_load(docs['RETURN'])
    options = set(doc.get('options', {}))
    if 'lanrove.setup.common' in doc.get('extends_documentation_fragment', []):
        options |= set(frag)
    spec = set(re.findall(r"^\s+(\w+)=dict\(type=", text, re.M))
    if 'COMMON_ARGS' in text:
        spec |= {'cli', 'interface', 'home'}
    if options != spec:
        print('%s: documented %s, accepted %s' % (name, sorted(options), sorted(spec)))
        bad = 1
sys.exit(bad)
PY
exit $rc
