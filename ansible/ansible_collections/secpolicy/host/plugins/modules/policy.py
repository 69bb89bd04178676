#!/usr/bin/python
# Copyright: secpolicy contributors
# Apache License 2.0 (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: policy
short_description: Check, preview and load a host's access-control policy
description:
  - "Checks the policy tree in I(path) with C(secpolicy check --json). Any
    error fails the task with every located message (C(PATH:LINE: TEXT)) and
    nothing is loaded; warnings become task warnings."
  - Then asks C(secpolicy diff --json) what a load would change. The task is
    changed exactly when the diff lists a change to rules, domains, objects
    or tardisk labels; rules the kernel holds that the tree no longer has are
    kept by a load and are not a change. A load that would fail (the diff's
    status 4) fails the task with its errors.
  - File labels are left to M(secpolicy.host.label), so one drifted label is
    one change, in that task. A load run for other changes writes the file
    labels too, and the label task then finds nothing to do.
  - When something would change and the play is not in check mode, loads the
    tree with C(secpolicy load). A second run finds nothing to change.
  - The tree must already be on the host. Put it there first, for example
    with M(ansible.builtin.copy) or C(ansible.posix.synchronize).
author: secpolicy contributors
version_added: 0.1.0
extends_documentation_fragment: secpolicy.host.tools
options:
  path:
    description:
      - The policy directory on the host (with I(host_root), inside the host
        root's view).
      - Tardisk policies are always read from C(/etc/norvane/secpolicy), so
        a tree meant to be booted belongs there.
    type: path
    default: /etc/norvane/secpolicy
  strict:
    description:
      - Fail on warnings of the check too, not only on errors.
    type: bool
    default: false
attributes:
  check_mode:
    support: full
    details: The check and the diff run on a throwaway copy of the kernel; nothing is written.
  diff_mode:
    support: full
    details: Before is what the kernel holds, after is what a load would leave, one line per change.
notes:
  - Check and diff run the real load on a copy of the kernel, so a check mode
    run takes about as long as a load.
  - "Under C(--check), M(ansible.builtin.copy) writes nothing, so this module
    then previews the tree that is already on the host. To preview a tree from
    the controller, copy it to a staging folder with C(check_mode: false) and
    point I(path) there."
'''

EXAMPLES = r'''
- name: Put the policy tree in place
  ansible.builtin.copy:
    src: secpolicy/
    dest: /etc/norvane/secpolicy/

- name: Load it where it changes something
  secpolicy.host.policy:

- name: A simulated host kept in /srv/hosts/h1
  secpolicy.host.policy:
    state_file: /srv/hosts/h1/state.db
    host_root: /srv/hosts/h1
    secpolicy_bin: /opt/secpolicy/bin/secpolicy
    hostsim_bin: /opt/secpolicy/bin/hostsim
'''

RETURN = r'''
changes:
  description:
    - What the load changed (or, in check mode, would change), as C(secpolicy diff --json) lists it, in its order,
      file labels left out.
    - Each has C(mark) (C(+) added, C(-) removed, C(~) changed), C(kind), C(domain), C(subject), C(before), C(after)
      and C(line), the change as the text form of the diff prints it.
  returned: success
  type: list
  elements: dict
  sample:
    - mark: "~"
      kind: rule
      domain: vmrun
      before: "-s ptrace grant"
      after: "-s ptrace revoke"
kept:
  description: Rules the kernel holds that the tree no longer has; a load keeps them.
  returned: success
  type: list
  elements: dict
loaded:
  description: Whether C(secpolicy load) ran.
  returned: success
  type: bool
errors:
  description: "Every error of the check or of the load the diff predicts, located as C(PATH:LINE: TEXT) or C(PATH: TEXT)."
  returned: failure of the check or of the predicted load
  type: list
  elements: str
  sample: ["/etc/norvane/secpolicy/domains/netd:7: Invalid rule"]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.secpolicy.host.plugins.module_utils.tools import (
    TOOL_ARGUMENT_SPEC, ToolError, Tools, header, located, located_errors)


def side_line(change, side):
    """One line of the before or the after text for a change."""
    value = change.get(side)
    kind = change.get('kind')
    if kind == 'tardisk':
        # A tardisk with no label yet: the same word label verify prints.
        return '%s %s: %s' % (kind, change.get('subject'),
                              '(none)' if value is None else value)
    subject = change.get('subject') or ''
    if value is None:
        value = subject
    elif kind == 'rule' and not value.startswith(subject):
        # A bare action ("grant") says nothing without the rule it belongs to.
        value = '%s %s' % (subject, value)
    if kind == 'rule':
        domain = change.get('domain')
        return '%s: %s' % (domain, value) if domain is not None else value
    return '%s %s' % (kind, value)


def diff_texts(changes):
    """Ansible's before/after texts: removed and changed entries as they are,
    added and changed entries as they will be."""
    before = [side_line(c, 'before') for c in changes if c.get('mark') in ('-', '~')]
    after = [side_line(c, 'after') for c in changes if c.get('mark') in ('+', '~')]
    return ''.join(line + '\n' for line in before), \
        ''.join(line + '\n' for line in after)


# File labels belong to the label module: a policy task that also counted
# them would report one drifted label twice and fix it with a whole load.
LABEL_KINDS = ('label',)


def apply_policy(tools, path, check_mode, want_diff, strict=False, warn=None):
    """Check, diff and, unless in check mode, load. Returns the result; raises
    ToolError to fail the task."""
    check_args = ['check', '--json'] + (['--strict'] if strict else []) + [path]
    rc, report, err = tools.run_json(check_args, (0, 1))
    errors = located_errors(report)
    warnings = [located(w) for w in report.get('warnings') or []]
    for text in warnings:
        if warn:
            warn(text)
    if rc != 0 or not report.get('ok', False):
        found = errors or (warnings if strict else [])
        if not found:
            found = [err.strip() or 'secpolicy check failed']
        raise ToolError('the policy in %s has %d error(s): %s'
                        % (path, len(found), '; '.join(found)),
                        errors=found, check_warnings=warnings)

    # 4: a load of the tree would fail, although the check passed (the
    # kernel refuses what the tree asks for).
    rc, delta, err = tools.run_json(['diff', '--json', path], (0, 1, 4))
    if rc == 4 or delta.get('loadFails'):
        found = located_errors(delta) or [err.strip() or 'a load would fail']
        raise ToolError('a load of %s would fail: %s' % (path, '; '.join(found)),
                        errors=found)
    every = [c for c in delta.get('changes') or []
             if c.get('kind') not in LABEL_KINDS]
    changes = [c for c in every if c.get('mark') != '=']
    kept = [c for c in every if c.get('mark') == '=']
    changed = bool(changes)
    result = dict(changed=changed, changes=changes, kept=kept, loaded=False)
    if changed and want_diff:
        before, after = diff_texts(changes)
        result['diff'] = dict(
            before=before, after=after,
            before_header=header(tools, 'kernel'),
            after_header=header(tools, path))
    if changed and not check_mode:
        tools.run_writer(['load', path])
        result['loaded'] = True
    return result


def main():
    spec = dict(TOOL_ARGUMENT_SPEC)
    spec.update(path=dict(type='path', default='/etc/norvane/secpolicy'),
                strict=dict(type='bool', default=False))
    module = AnsibleModule(argument_spec=spec, supports_check_mode=True)
    try:
        result = apply_policy(Tools.from_module(module), module.params['path'],
                              module.check_mode, module._diff,
                              module.params['strict'], module.warn)
    except ToolError as e:
        module.fail_json(msg=e.msg, **e.result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
