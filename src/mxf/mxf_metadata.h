// MXF (SMPTE ST 377-1) KLV coding and header metadata: the BER lengths and keys of KLV items, the local sets of the
// header metadata (2-byte tags and lengths; dynamic tags named through the Primer Pack), and the walk of the object
// graph they form -- Preface, Content Storage, packages, tracks, sequences, essence descriptors -- to the records
// of the file's essence tracks and the durations of the material package.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "demux/file_demux.h"
#include "demux/stream_record.h"
#include "demux/tag_list.h"
#include "input/bytes.h"

namespace md {

// ---- KLV coding ----

constexpr size_t kKeySize = 16;

// A BER length at b[off]: a short form (below 0x80) or 0x81..0x88 followed by that many bytes, big-endian. False
// for the indefinite form 0x80, a length of more than 8 bytes, or bytes past b. size: the bytes the length takes.
bool ReadBerLength(Bytes b, size_t off, uint64_t& length, size_t& size);

// The key and length of the KLV item at b[off]; the value starts at valueOffset and may run past b.
struct Klv {
    const uint8_t* key = nullptr;
    size_t valueOffset = 0;
    uint64_t length = 0;
};
bool ReadKlv(Bytes b, size_t off, Klv& out);

// Partition packs: 06 0E 2B 34 02 05 01 01 0D 01 02 01 01, then the kind (02 header, 03 body, 04 footer), the
// partition status (01 open incomplete .. 04 closed complete) and a reserved 00.
constexpr uint8_t kHeaderPartition = 0x02;
constexpr uint8_t kFooterPartition = 0x04;
bool IsPartitionPack(const uint8_t* key, uint8_t kind);
bool IsAnyPartitionPack(const uint8_t* key);
bool IsFill(const uint8_t* key);
bool IsIndexSegment(const uint8_t* key);
// A picture item of the generic container or of SDTI-CP (D-10): 06 0E 2B 34 01 02 01 01 0D 01 03 01, then 15
// (or 05), the element count, type and number -- the last four bytes are the file package track's TrackNumber.
bool IsPictureElement(const uint8_t* key);

// The partition pack's fields that locate the rest of the file (offsets from the header partition's first byte).
struct PartitionPack {
    uint64_t footerPartition = 0;  // 0: not known when the partition was written
    uint64_t headerByteCount = 0;  // from the Primer Pack's key on; 0: no header metadata or not stated
    uint8_t pattern[kKeySize] = {};  // the OperationalPattern label
};
// The fixed part of a partition pack's value (80 bytes up to the operational pattern). False when shorter.
bool ReadPartitionPack(Bytes value, PartitionPack& out);

// The text of an operational pattern label (06 0E 2B 34 04 01 01 xx 0D 01 02 01, then item and package
// complexity): "OP1a" .. "OP3c", "OP-Atom"; empty for a label that is none of them.
void PatternName(const uint8_t* label, char (&text)[16]);

// ---- Index table segments ----

// What index table segments say of the essence: the edit rate and the end of the indexed edit units
// (IndexStartPosition + IndexDuration); segments of another rate than the first, or stating no duration (a
// constant-bytes-per-edit-unit segment over the whole container), add nothing.
struct IndexExtent {
    int32_t rateNum = 0;
    int32_t rateDen = 0;
    int64_t end = -1;
    // Folds the segment whose value (its local set items) is given.
    void Add(Bytes value);
    // The end in 100-ns units, -1 when unknown.
    int64_t EndTime() const;
};

// The index table segments among the KLV items of b from off on, up to the first item that runs past b (at most
// a fixed number of items).
void ScanIndexSegments(Bytes b, size_t off, IndexExtent& extent);

// ---- Header metadata ----

// One essence track of a file package with its record (stream id: the track's TrackID), and what the reader of
// the essence needs: the element it is carried in, and whether its field order waits for the first picture.
struct MxfTrack {
    std::unique_ptr<StreamRecord> record;
    uint32_t trackNumber = 0;  // the essence element key's last four bytes, 0 when not stated
    bool fieldsFromPicture = false;  // interlaced MPEG-2: the first picture's top_field_first decides
};

struct MxfDescription {
    std::vector<MxfTrack> tracks;  // in package and track order, at most kMaxFileStreams
    int64_t videoEnd = -1;  // the material package's longest picture / sound track, 100-ns units
    int64_t audioEnd = -1;
    uint32_t videoFrameDuration = 0;  // one edit unit of that picture track, 100-ns units
    uint8_t pattern[kKeySize] = {};  // the Preface's OperationalPattern, zero when absent
    size_t metadataEnd = 0;  // where the sets end: the first KLV item after them, or the end of b
};

// Reads the header metadata b (the Primer Pack and the sets after it, up to the first KLV item that is neither a
// set nor fill, or the first that runs past b) and describes the file from the Preface down. Strong references
// that resolve to nothing or to a set of the wrong kind are left out, so no reference is followed twice. With tags,
// the last Identification set's items are listed under the names ffprobe gives them, prefixed "mxf:"
// (mxf:company_name, mxf:product_name, mxf:product_version, mxf:product_version_num, mxf:toolkit_version_num,
// mxf:application_platform, mxf:modification_date, mxf:product_uid, mxf:generation_uid, mxf:uid).
MxfDescription DescribeHeaderMetadata(Bytes b, TagList* tags = nullptr);

// A count of edit units at num/den per second in 100-ns units; -1 for a negative count, a rate that is not
// positive, or a time past the range the host can hold.
int64_t EditUnitsToTime(int64_t count, int32_t num, int32_t den);

}  // namespace md
