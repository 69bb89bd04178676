# Copyright: secpolicy contributors
# Apache License 2.0 (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  secpolicy_bin:
    description:
      - The C(secpolicy) tool on the managed host, a path or a name looked up
        in C(PATH).
    type: str
    default: secpolicy
  hostsim_bin:
    description:
      - The C(hostsim) tool on the managed host, used only with I(host_root).
    type: str
    default: hostsim
  state_file:
    description:
      - State file of a simulated host, passed to the tools as
        C(HOSTSIM_STATE). It must exist (C(hostsim init) creates it).
      - Leave it out on a real host.
    type: path
  host_root:
    description:
      - Folder of a simulated host whose C(etc/norvane) and C(tardisks)
        stand at C(/etc/norvane) and C(/tardisks) while the tools run.
        Every command is wrapped in C(hostsim run --root HOST_ROOT --),
        which needs root.
      - Paths given to the module are then paths inside that view.
      - Leave it out on a real host.
    type: path
notes:
  - The module calls the installed tools and reads their JSON answers; it does
    not parse policy files itself.
'''
