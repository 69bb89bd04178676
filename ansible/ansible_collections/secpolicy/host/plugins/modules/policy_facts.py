#!/usr/bin/python
# Copyright: secpolicy contributors
# Apache License 2.0 (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: policy_facts
short_description: The policy the kernel holds, as facts
description:
  - Reads C(secpolicy display --json) and sets it as the fact C(secpolicy).
    Changes nothing.
author: secpolicy contributors
version_added: 0.1.0
extends_documentation_fragment: secpolicy.host.tools
options:
  domain:
    description:
      - Only this domain (by name) in C(domains) and C(rules); C(objects),
        C(tardisks) and C(domain_ids) stay whole. Fails when the kernel has
        no domain of that name.
    type: str
attributes:
  check_mode:
    support: full
    details: Reads only.
  diff_mode:
    support: none
'''

EXAMPLES = r'''
- name: Read the policy of every host
  secpolicy.host.policy_facts:

- name: The rules of one domain, as policy lines
  ansible.builtin.debug:
    var: ansible_facts.secpolicy.rules.mgmtd
'''

RETURN = r'''
ansible_facts:
  description: Facts set on the host.
  returned: always
  type: complex
  contains:
    secpolicy:
      description: What the kernel holds.
      type: complex
      contains:
        domains:
          description: As C(secpolicy display --json) prints them, with C(id), C(name), C(enforcement) and their C(rules).
          type: list
          elements: dict
        objects:
          description: Defined objects, each with C(name) and C(id).
          type: list
          elements: dict
        tardisks:
          description: Tardisks, each with C(path) and C(label).
          type: list
          elements: dict
        domain_ids:
          description: Every domain's id by name.
          type: dict
          sample: {"appDom": 2, "mgmtd": 9}
        rules:
          description: Each domain's rules as the lines C(secpolicy display) prints, by domain name.
          type: dict
          sample: {"mgmtd": ["-s read grant", "-c kill revoke"]}
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.secpolicy.host.plugins.module_utils.tools import (
    TOOL_ARGUMENT_SPEC, ToolError, Tools)


def gather(tools, domain=None):
    # One display of every domain gives the ids as well; the tool's display
    # of one domain would take a second call to find its id.
    _, shown, _ = tools.run_json(['display', '--json'], (0,))
    every = shown.get('domains') or []
    ids = dict((d['name'], d['id']) for d in every)
    if domain is not None and domain not in ids:
        raise ToolError('the kernel has no domain named %s' % domain)
    domains = [d for d in every if domain is None or d['name'] == domain]
    return dict(
        domains=domains,
        objects=shown.get('objects') or [],
        tardisks=shown.get('tardisks') or [],
        domain_ids=ids,
        rules=dict((d['name'], [r['text'] for r in d.get('rules') or []])
                   for d in domains))


def main():
    spec = dict(TOOL_ARGUMENT_SPEC)
    spec.update(domain=dict(type='str'))
    module = AnsibleModule(argument_spec=spec, supports_check_mode=True)
    try:
        facts = gather(Tools.from_module(module), module.params['domain'])
    except ToolError as e:
        module.fail_json(msg=e.msg, **e.result)
    module.exit_json(changed=False, ansible_facts=dict(secpolicy=facts))


if __name__ == '__main__':
    main()
