#pragma once
#include "AudioEngine.h"
#include "ButtonGrid.h"
#include "GridHeader.h"
#include "PcmPlayer.h"
#include "SoundButton.h"
#include "WasapiEngine.h"

// Stops the tab that a pane's header shows: every button of the first pane
// whose header is `header`, in AudioEngine (with its own stop fade), WASAPI and
// the PCM player; then the grid and the header show idle. A pane without a
// grid ends it. DirectSound voices are not reached from here.
template <class Panels>
void stopTabByHeader(GridHeader* header, Panels& panels)
{
    for (auto& pane : panels) {
        if (pane.header.data() != header)
            continue;
        ButtonGrid* grid = pane.grid.data();
        if (!grid)
            return;
        AudioEngine* audio = AudioEngine::instance();
        WasapiEngine* wasapi = WasapiEngine::instance();
        PcmPlayer* pcm = PcmPlayer::instance();
        for (int i = 0; i < grid->buttonCount(); ++i) {
            SoundButton* b = grid->buttonWidget(i);
            if (!b)
                continue;
            const QString id = b->buttonData().id;
            audio->cancelFade(id);
            audio->stop(id);
            wasapi->stop(id);
            pcm->stop(id);
        }
        grid->setAllStopped();
        if (pane.header)
            pane.header->setPlaying(false);
        return;
    }
}
