// AC-3 and E-AC-3 files (ATSC A/52 and its Annex E): syncframes back to back, each one's syncinfo or bsi stating
// its length, so the next starts where it says. ID3v2 tags may open the file, and zero bytes before the first frame
// are passed over; a stream of byte-swapped 16-bit words (77 0B) is read as well.
#pragma once

#include "demux/file_demux.h"

namespace md {

// A run of AC-3 syncframes (bsid up to 8) at the start of the audio: several in a row, or a shorter run ending
// with the file.
bool ProbeAc3(const ProbeInput& input);

// The same run holding E-AC-3 syncframes (bsid 11 to 16); AC-3 frames between them (an AC-3 core with E-AC-3
// dependent substreams) belong to it.
bool ProbeEac3(const ProbeInput& input);

class Ac3Demux final : public FileDemux {
public:
    // One audio record (stream id 1), AC-3 or E-AC-3 as the frames are, from the first frame that starts the
    // program (an AC-3 frame or an independent frame of substream 0): acmod, lfeon and bsid in the AC-3 words, and
    // for E-AC-3 the speakers of the dependent substreams' channel maps. The duration counts the program's frames
    // in the first 512 KiB and extrapolates over the rest of the file by their mean size. 1 when the frames
    // run as the probe asks.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;
};

}  // namespace md
