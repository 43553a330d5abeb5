// Field-order scans over the first samples of an MP4 video track, run by the
// open flow when the track's stream record says the video is interlaced.
//
// Both scans take the file's box tree through `boxes`: when it is null, the tree
// is read from `input` (from offset 0) and left there for later queries; a file
// whose boxes cannot be read leaves it null. They read the video track that
// comes first in the file (handler type 'vide'). A missing box, sample entry,
// parameter set or sample ends a scan without changing its outputs.
#pragma once

#include <cstdint>
#include <memory>

#include "input/input_stream.h"
#include "mp4/mp4_box.h"

namespace md {

// MPEG-4 Visual ('mp4v'): reads the picture header at the start of sample 1
// and sets fieldOrder from its top_field_first flag (1 top field first, 2
// bottom field first). Nothing changes when the sample entry holds no video
// object layer.
void ScanMp4FirstSampleFieldOrder(std::unique_ptr<Mp4Box>& boxes, ZPMP::InputStream& input, uint32_t& fieldOrder);

// H.264 ('avc1'): reads the first slice header of samples 1 and 2 and takes the
// parity of each (a field picture's bottom_field_flag, or for a frame the sign
// of delta_pic_order_cnt_bottom). fieldOrder receives sample 1's parity (1 top,
// 2 bottom); when sample 2 has the other parity, each sample holds one field
// and frameRate, measured from the samples, is halved.
void ScanMp4SliceFieldOrder(std::unique_ptr<Mp4Box>& boxes, ZPMP::InputStream& input, uint32_t& fieldOrder,
                            double& frameRate);

}  // namespace md
