#pragma once

// The GNU Lesser General Public License, version 3, in its plain-text form:
// the repository's COPYING.LESSER, compiled in at build time by
// forms/licence.cmake (included where zentaval_core is defined).
extern const char licenceText[];
