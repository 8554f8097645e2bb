// What a host needs when it reports a problem: the library's version and
// build, the runtime actually loaded, the platform and the runtime's
// execution providers. At most 999 characters.
#pragma once

#include <string>

std::string buildInformation();
