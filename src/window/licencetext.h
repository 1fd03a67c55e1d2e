#pragma once

// The GNU Lesser General Public License, version 3, in its plain-text form:
// the repository's COPYING.LESSER, compiled in as a resource of this path by
// forms/licence.cmake (included where zentaval_core is defined).
inline constexpr char LicenceResource[] = ":/licence/COPYING.LESSER";
