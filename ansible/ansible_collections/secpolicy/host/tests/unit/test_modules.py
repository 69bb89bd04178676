# Copyright: secpolicy contributors
# Apache License 2.0 (see LICENSE)
"""The modules' decisions against a scripted stand-in for the tools."""

import json
import os
import sys
import unittest

sys.path.insert(0, os.path.abspath(os.path.join(
    os.path.dirname(__file__), *(['..'] * 5))))

from ansible_collections.secpolicy.host.plugins.module_utils.tools import (  # noqa: E402
    ToolError, Tools)
from ansible_collections.secpolicy.host.plugins.modules import (  # noqa: E402
    label, policy, policy_facts)

OK_CHECK = (0, json.dumps({'ok': True, 'errors': [], 'warnings': []}), '')
CHANGES = [
    {'mark': '+', 'kind': 'object', 'domain': None, 'subject': 'newObj',
     'before': None, 'after': 'newObj', 'line': '+ object newObj'},
    {'mark': '~', 'kind': 'rule', 'domain': 'vmrun', 'subject': '-s ptrace',
     'before': '-s ptrace grant', 'after': '-s ptrace revoke', 'line': '~'},
    {'mark': '=', 'kind': 'rule', 'domain': 'netd', 'subject': '-s bind',
     'before': '-s bind grant', 'after': None, 'line': '='},
    {'mark': '~', 'kind': 'label', 'domain': None, 'subject': '/f',
     'before': None, 'after': 'logFile', 'line': '~'},
]


def answer(rc, doc):
    return (rc, json.dumps(doc), '')


class FakeRun:
    """Answers each secpolicy subcommand from a script; records argv."""

    def __init__(self, script):
        self.script = script
        self.calls = []

    def __call__(self, argv, check_rc=False, environ_update=None):
        self.calls.append((argv, environ_update))
        args = argv[argv.index('secpolicy') + 1:] if 'secpolicy' in argv else argv
        reply = self.script[args[0] if args[0] != 'label' else args[1]]
        return reply.pop(0) if isinstance(reply, list) else reply

    def subcommands(self):
        return [argv[argv.index('secpolicy') + 1] for argv, _ in self.calls]


def tools(script, **kw):
    run = FakeRun(script)
    return Tools(run, 'secpolicy', 'hostsim', **kw), run


class CommandTest(unittest.TestCase):
    def test_wrapping_and_environment(self):
        for kw, argv, env in [
            ({}, ['secpolicy', 'load', '/p'], {}),
            ({'state_file': '/s.db'}, ['secpolicy', 'load', '/p'],
             {'HOSTSIM_STATE': '/s.db'}),
            ({'state_file': '/s.db', 'host_root': '/h 1'},
             ['hostsim', 'run', '--root', '/h 1', '--', 'secpolicy', 'load', '/p'],
             {'HOSTSIM_STATE': '/s.db'}),
        ]:
            t, run = tools({'load': (0, '', '')}, **kw)
            t.run_writer(['load', '/p'])
            self.assertEqual(run.calls, [(argv, env)])


class PolicyTest(unittest.TestCase):
    def script(self, diff, load=(0, '', ''), check=OK_CHECK):
        return {'check': check, 'diff': diff, 'load': load}

    def test_outcomes(self):
        changed = answer(1, {'changed': True, 'changes': CHANGES})
        kept_only = answer(0, {'changed': False, 'changes': CHANGES[2:3]})
        # A drifted label alone is the label module's change, not this one's.
        label_only = answer(1, {'changed': True, 'changes': CHANGES[2:]})
        for diff, check_mode, want_changed, calls in [
            (changed, False, True, ['check', 'diff', 'load']),
            (changed, True, True, ['check', 'diff']),
            (kept_only, False, False, ['check', 'diff']),
            (label_only, False, False, ['check', 'diff']),
        ]:
            t, run = tools(self.script(diff))
            result = policy.apply_policy(t, '/p', check_mode, True)
            self.assertEqual(result['changed'], want_changed)
            self.assertEqual(run.subcommands(), calls)
            self.assertEqual(len(result['kept']), 1)
            self.assertEqual('diff' in result, want_changed)
            self.assertNotIn('label', [c['kind'] for c in result['changes']])

    def test_diff_texts(self):
        tardisk = dict(CHANGES[3], kind='tardisk', subject='/tardisks/a')
        before, after = policy.diff_texts(
            [c for c in CHANGES[:2]] + [tardisk] +
            [{'mark': '-', 'kind': 'object', 'domain': None,
              'subject': 'oldObj', 'before': None, 'after': None},
             {'mark': '~', 'kind': 'rule', 'domain': 'netd',
              'subject': '-c kill', 'before': 'grant', 'after': 'revoke'}])
        self.assertEqual(before, 'vmrun: -s ptrace grant\ntardisk /tardisks/a: (none)\n'
                                 'object oldObj\nnetd: -c kill grant\n')
        self.assertEqual(after, 'object newObj\nvmrun: -s ptrace revoke\n'
                                'tardisk /tardisks/a: logFile\n'
                                'netd: -c kill revoke\n')

    def test_failures(self):
        bad = answer(1, {'ok': False, 'warnings': [], 'errors': [
            {'path': '/p/domains/a', 'line': 3, 'text': 'Invalid rule'},
            {'path': '/p/domains/b', 'line': None, 'text': 'No such object'}]})
        warned = answer(1, {'ok': False, 'errors': [], 'warnings': [
            {'path': '/p/objects/x', 'line': 1, 'text': 'too long'}]})
        none = answer(0, {'changed': False, 'changes': []})
        for script, strict, located, calls in [
            (self.script(none, check=bad), False,
             ['/p/domains/a:3: Invalid rule', '/p/domains/b: No such object'],
             ['check']),
            (self.script(none, check=(1, '', 'Error: no state')), False, None,
             ['check']),
            (self.script(none, check=(2, '', 'usage')), False, None, ['check']),
            (self.script(none, check=(0, 'not json', '')), False, None, ['check']),
            (self.script(none, check=warned), True,
             ['/p/objects/x:1: too long'], ['check']),
            (self.script((3, '', 'Error: copy failed')), False, None,
             ['check', 'diff']),
            (self.script(answer(4, {'changed': True, 'loadFails': True,
                                    'changes': CHANGES, 'errors': [
                {'path': '/p/domains/a', 'line': 2, 'text': 'No such domain'}]})),
             False, ['/p/domains/a:2: No such domain'], ['check', 'diff']),
            (self.script(answer(1, {'changed': True, 'changes': CHANGES}),
                         load=(1, '', 'Error: refused')), False, None,
             ['check', 'diff', 'load']),
        ]:
            t, run = tools(script)
            with self.assertRaises(ToolError) as caught:
                policy.apply_policy(t, '/p', False, False, strict)
            self.assertEqual(caught.exception.result.get('errors'), located)
            if located is None:
                self.assertIn(script[calls[-1]][2] or 'JSON', caught.exception.msg)
            self.assertEqual(run.subcommands(), calls)
        self.assertIn('Error: refused', caught.exception.msg)
        self.assertTrue(caught.exception.result['changed'])


class LabelTest(unittest.TestCase):
    DIFF = answer(1, {'matched': 2, 'differences': [
        {'path': '/f', 'current': None, 'wanted': 'logFile'}]})
    SAME = answer(0, {'matched': 3, 'differences': []})

    def test_outcomes(self):
        for verifies, check_mode, changed, calls, fails in [
            ([self.SAME], False, False, ['label'], False),
            ([self.DIFF], True, True, ['label'], False),
            ([self.DIFF, self.SAME], False, True,
             ['label', 'load-file-labels', 'label'], False),
            ([self.DIFF, self.DIFF], False, True,
             ['label', 'load-file-labels', 'label'], True),
        ]:
            t, run = tools({'verify': verifies,
                            'load-file-labels': (0, '', '')})
            if fails:
                with self.assertRaises(ToolError) as caught:
                    label.apply_labels(t, '/l', check_mode, True)
                self.assertIn('/f: (none) -> logFile', caught.exception.msg)
            else:
                result = label.apply_labels(t, '/l', check_mode, True)
                self.assertEqual(result['changed'], changed)
                if changed:
                    self.assertEqual(result['diff']['before'], '/f: (none)\n')
                    self.assertEqual(result['diff']['after'], '/f: logFile\n')
            self.assertEqual(run.subcommands(), calls)


class LabelVerifyFailureTest(unittest.TestCase):
    def test_status_3_fails_with_the_errors(self):
        for doc, err, want in [
            ({'matched': 0, 'differences': [], 'errors': [
                {'path': '/nonexistent', 'line': None,
                 'text': 'No such file or directory'},
                {'path': '/l/m', 'line': 4, 'text': 'bad mapping'}]}, '',
             '/nonexistent: No such file or directory; /l/m:4: bad mapping'),
            (None, 'Error: cannot read /l', 'Error: cannot read /l'),
        ]:
            reply = (3, json.dumps(doc) if doc else '', err)
            t, run = tools({'verify': reply})
            with self.assertRaises(ToolError) as caught:
                label.apply_labels(t, '/l', False, False)
            self.assertIn(want, caught.exception.msg)
            self.assertEqual(run.subcommands(), ['label'])


class FactsTest(unittest.TestCase):
    def test_gather(self):
        shown = answer(0, {'domains': [
            {'id': 2, 'name': 'appDom', 'rules': []},
            {'id': 9, 'name': 'mgmtd', 'rules': [
                {'type': '-s', 'text': '-s read grant'}]}],
            'objects': [], 'tardisks': []})
        t, run = tools({'display': shown})
        got = policy_facts.gather(t, 'mgmtd')
        self.assertEqual(run.calls, [(['secpolicy', 'display', '--json'], {})])
        self.assertEqual(got['rules'], {'mgmtd': ['-s read grant']})
        self.assertEqual([d['id'] for d in got['domains']], [9])
        self.assertEqual(got['domain_ids'], {'appDom': 2, 'mgmtd': 9})
        with self.assertRaises(ToolError):
            policy_facts.gather(tools({'display': shown})[0], 'nosuch')


if __name__ == '__main__':
    unittest.main()
