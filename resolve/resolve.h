#pragma once
#include "text/text.h"

namespace telvoro {

// The page, read as UTF-8, turned into GBK.
Text DecodePage(const Text& page);
// The embeddable player address of a video page of one of the three sites, or
// the empty Text when none is found (or the page cannot be fetched).
Text ResolvePlayerAddress(const Text& pageAddress);

}  // namespace telvoro
