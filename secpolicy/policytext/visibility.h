// Marks a declaration as internal to the library: it is not exported from
// libsecpolicy, so an installed header may declare it without offering it.
#pragma once

#ifndef SECPOLICY_INTERNAL
#define SECPOLICY_INTERNAL __attribute__((visibility("hidden")))
#endif
