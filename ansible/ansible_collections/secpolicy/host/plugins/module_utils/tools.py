# Copyright: secpolicy contributors
# Apache License 2.0 (see LICENSE)
"""Runs the installed secpolicy and hostsim tools for the modules.

Every module goes through Tools, so that a real host (the tools alone) and a
simulated one (a state file, a host root) are driven the same way. Commands
are argument lists, never shell text: paths come from inventories and policy
trees that other people write.
"""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json

TOOL_ARGUMENT_SPEC = dict(
    secpolicy_bin=dict(type='str', default='secpolicy'),
    hostsim_bin=dict(type='str', default='hostsim'),
    state_file=dict(type='path'),
    host_root=dict(type='path'),
)


class ToolError(Exception):
    """A tool failed or answered something unusable; becomes fail_json."""

    def __init__(self, msg, **result):
        super(ToolError, self).__init__(msg)
        self.msg = msg
        self.result = result


class Tools:
    """Builds and runs tool commands for one host.

    run_command is AnsibleModule.run_command or a stand-in with the same
    signature (the unit tests pass one).
    """

    def __init__(self, run_command, secpolicy_bin, hostsim_bin=None,
                 state_file=None, host_root=None):
        self._run_command = run_command
        self.secpolicy_bin = secpolicy_bin
        self.hostsim_bin = hostsim_bin
        self.state_file = state_file
        self.host_root = host_root

    @classmethod
    def from_module(cls, module):
        params = module.params
        host_root = params.get('host_root')
        return cls(
            module.run_command,
            _resolve(module, params['secpolicy_bin']),
            _resolve(module, params['hostsim_bin']) if host_root else None,
            params.get('state_file'),
            host_root,
        )

    def argv(self, args):
        """The full command for secpolicy ARGS on this host."""
        command = [self.secpolicy_bin] + list(args)
        if self.host_root:
            # The policy tree and tardisks of the host root appear at their
            # real places only inside hostsim's private mount namespace.
            command = [self.hostsim_bin, 'run', '--root', self.host_root,
                       '--'] + command
        return command

    def environ(self):
        return {'HOSTSIM_STATE': self.state_file} if self.state_file else {}

    def run(self, args):
        """Runs secpolicy ARGS; returns (rc, stdout, stderr)."""
        return self._run_command(self.argv(args), check_rc=False,
                                 environ_update=self.environ())

    def run_json(self, args, ok_codes, expect=dict):
        """Runs secpolicy ARGS and parses its JSON answer.

        Any exit status outside ok_codes, or an answer that is not a JSON
        value of type expect, fails with the tool's own error text.
        """
        rc, out, err = self.run(args)
        if rc not in ok_codes:
            raise ToolError(failure_text(self.argv(args), rc, err),
                            rc=rc, stderr=err)
        try:
            answer = json.loads(out)
        except ValueError:
            answer = None
        if not isinstance(answer, expect):
            # A tool that could not run at all (no state, no policy folder)
            # says why on stderr and prints nothing on stdout.
            msg = failure_text(self.argv(args), rc, err) if err.strip() else \
                'secpolicy %s: the answer is not a JSON %s: %s' % (
                    ' '.join(args), expect.__name__, out[:200])
            raise ToolError(msg, rc=rc, stdout=out, stderr=err)
        return rc, answer, err

    def run_writer(self, args):
        """Runs a command that writes the policy; fails on any error."""
        rc, out, err = self.run(args)
        if rc != 0:
            raise ToolError(failure_text(self.argv(args), rc, err),
                            rc=rc, stdout=out, stderr=err, changed=True)
        return out, err


def failure_text(argv, rc, err):
    reason = err.strip() or 'no message'
    return '%s exited with status %d: %s' % (' '.join(argv), rc, reason)


def located(finding):
    """PATH:LINE: TEXT, or PATH: TEXT when the finding has no line."""
    if finding.get('line') is None:
        return '%s: %s' % (finding.get('path'), finding.get('text'))
    return '%s:%s: %s' % (finding.get('path'), finding.get('line'),
                          finding.get('text'))


def located_errors(answer):
    """The located errors a tool's JSON answer carries in "errors"."""
    return [located(e) for e in answer.get('errors') or []]


def header(tools, what):
    """Names the host in a diff header: three simulated hosts on one machine
    share every path but their state and root."""
    where = []
    if tools.host_root:
        where.append('root ' + tools.host_root)
    if tools.state_file:
        where.append('state ' + tools.state_file)
    return '%s (%s)' % (what, ', '.join(where)) if where else what


def _resolve(module, name):
    if '/' in name:
        return name
    return module.get_bin_path(name, required=True)
