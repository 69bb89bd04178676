#!/usr/bin/python
# Copyright: secpolicy contributors
# Apache License 2.0 (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: label
short_description: Verify and restore the security labels of files
description:
  - Compares the labels on disk with the file-label mappings in I(path) using
    C(secpolicy label verify --json --mappings PATH). The task is changed
    exactly when some file's label differs from what its mapping wants.
  - When the labels cannot be verified at all (a missing path, a file that no
    mapping covers, mapping files that do not parse) the task fails with the
    tool's errors.
  - Unless in check mode, then restores them with
    C(secpolicy load-file-labels) and verifies again; labels that still
    differ (a file with no label at all cannot be given one) fail the task.
author: secpolicy contributors
version_added: 0.1.0
extends_documentation_fragment: secpolicy.host.tools
options:
  path:
    description:
      - The folder of file-label mapping files on the host (with
        I(host_root), inside the host root's view).
    type: path
    default: /etc/norvane/secpolicy/fileLabels
attributes:
  check_mode:
    support: full
    details: Only the verification runs; no label is written.
  diff_mode:
    support: full
    details: "One line per differing file, C(PATH: LABEL), before and after."
'''

EXAMPLES = r'''
- name: Put every file's label back as the mappings want it
  secpolicy.host.label:

- name: Report drift only
  secpolicy.host.label:
    path: /etc/norvane/secpolicy/fileLabels
  check_mode: true
  register: drift
'''

RETURN = r'''
matched:
  description: Number of files whose label matched before the task.
  returned: success
  type: int
  sample: 12
differences:
  description: Files whose label differed before the task; C(current) is null for a file with no label.
  returned: success
  type: list
  elements: dict
  sample:
    - path: /var/log/mgmtd.log
      current: logFile
      wanted: mgmtdLog
remaining:
  description: Files whose label still differs after the restore.
  returned: failure after the restore
  type: list
  elements: dict
errors:
  description: "Why the labels could not be verified, each as C(PATH:LINE: TEXT) or C(PATH: TEXT)."
  returned: failure of the verification
  type: list
  elements: str
  sample: ["/nonexistent: No such file or directory"]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.secpolicy.host.plugins.module_utils.tools import (
    TOOL_ARGUMENT_SPEC, ToolError, Tools, header, located_errors)


def label_diff_texts(differences):
    before = ''.join('%s: %s\n' % (d['path'], d.get('current') or '(none)')
                     for d in differences)
    after = ''.join('%s: %s\n' % (d['path'], d['wanted'])
                    for d in differences)
    return before, after


def verify(tools, path):
    # 3: the labels could not be verified (a missing path, a file no mapping
    # covers, mappings that do not parse); nothing can be said to match.
    # --mappings: PATH is the mappings folder even when it is missing, never
    # a file to verify against the default folder.
    rc, report, err = tools.run_json(
        ['label', 'verify', '--json', '--mappings', path], (0, 1, 3))
    if rc == 3:
        found = located_errors(report) or [err.strip() or 'no message']
        raise ToolError('the labels of %s could not be verified: %s'
                        % (path, '; '.join(found)), errors=found)
    return report.get('matched', 0), report.get('differences') or []


def apply_labels(tools, path, check_mode, want_diff):
    matched, differences = verify(tools, path)
    changed = bool(differences)
    result = dict(changed=changed, matched=matched, differences=differences)
    if changed and want_diff:
        before, after = label_diff_texts(differences)
        result['diff'] = dict(before=before, after=after,
                              before_header=header(tools, 'labels on disk'),
                              after_header=header(tools, path))
    if changed and not check_mode:
        tools.run_writer(['load-file-labels', path])
        _, remaining = verify(tools, path)
        if remaining:
            raise ToolError(
                '%d file(s) still have another label than %s wants: %s'
                % (len(remaining), path,
                   '; '.join('%s: %s -> %s' % (d['path'],
                                               d.get('current') or '(none)',
                                               d['wanted'])
                             for d in remaining[:10])),
                changed=True, remaining=remaining)
    return result


def main():
    spec = dict(TOOL_ARGUMENT_SPEC)
    spec.update(path=dict(type='path',
                          default='/etc/norvane/secpolicy/fileLabels'))
    module = AnsibleModule(argument_spec=spec, supports_check_mode=True)
    try:
        result = apply_labels(Tools.from_module(module), module.params['path'],
                              module.check_mode, module._diff)
    except ToolError as e:
        module.fail_json(msg=e.msg, **e.result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
