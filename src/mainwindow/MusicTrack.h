#pragma once
#include <QString>

#include "Types.h"

// The record a music track plays under: a fresh id, the file's complete base
// name, full volume, no MIDI note.
ButtonData musicTrackRecord(const QString& path);
