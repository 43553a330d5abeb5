// The Matroska plugin holds md_mkv; its one export, md_matroska_entry_points,
// comes from there (src/mkv/matroska_entry.cpp).
