// The name under which the MxPEG channel includes the picture sink interface.
#pragma once

#include "mxm/ISegmentedStreamReceiver.h"
