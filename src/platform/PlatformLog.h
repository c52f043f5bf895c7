#pragma once
#include <QString>

// The platform layer sits below the operation log, so it logs through this
// hook. Start-up (or the audio layer) points it at VX_LOG; until then lines
// go to qInfo. The sink must be callable from any thread.
namespace PlatformLog {
using Sink = void (*)(const QString&);
void setSink(Sink sink);
void write(const QString& line);
}
