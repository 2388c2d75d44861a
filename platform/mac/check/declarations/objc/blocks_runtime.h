// SPDX-License-Identifier: Apache-2.0
// GNUstep's headers look for the blocks runtime under this name; Debian's
// libblocksruntime-dev installs it as <Block.h>.
#include <Block.h>
