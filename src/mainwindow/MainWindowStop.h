#pragma once
#include "ButtonGrid.h"
#include "GridHeader.h"
#include "PlaybackEngines.h"
#include "SoundButton.h"

// Stops each id at once in AudioEngine (ending a running stop fade first),
// WASAPI, the PCM player and the pre-decoded engine, in that order.
inline void stopInEveryEngine(PlaybackEngines& engines, const QStringList& ids)
{
    for (const QString& id : ids) {
        engines.audioCancelFade(id);
        engines.audioStop(id);
        engines.wasapiStop(id);
        engines.pcmStop(id);
        engines.dsStop(id);
    }
}

// Stops the tab that a pane's header shows: every button of the first pane
// whose header is `header`, at once, in AudioEngine (with its own stop fade),
// WASAPI, the PCM player and the pre-decoded engine; then the grid and the
// header show idle. A pane without a grid ends it.
template <class Panels>
void stopTabByHeader(GridHeader* header, Panels& panels, PlaybackEngines& engines)
{
    for (auto& pane : panels) {
        if (pane.header.data() != header)
            continue;
        ButtonGrid* grid = pane.grid.data();
        if (!grid)
            return;
        QStringList ids;
        for (int i = 0; i < grid->buttonCount(); ++i)
            if (SoundButton* b = grid->buttonWidget(i))
                ids.append(b->buttonData().id);
        stopInEveryEngine(engines, ids);
        grid->setAllStopped();
        if (pane.header)
            pane.header->setPlaying(false);
        return;
    }
}
