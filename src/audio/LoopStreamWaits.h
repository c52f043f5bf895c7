#pragma once
#include <QtGlobal>

// Milliseconds that loop streams have waited, over the whole run, for the
// stream before them to let its output go (LoopStream::Params::follows).
quint64 loopStreamPredecessorWaitMs();
