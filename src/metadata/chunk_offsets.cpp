// MovFile's chunk offset tables: every stco and co64 of the movie, read whole so that an
// insertion can move the offsets behind it before it writes anything.
#include <cstdint>
#include <utility>

#include "metadata/byte_order.h"
#include "metadata/mov_file.h"

namespace orbv {

int64_t MovFile::ChunkTable::shift(int64_t from, int64_t added) {
    const size_t width = wide ? 8 : 4;
    const uint64_t limit = wide ? UINT64_MAX : UINT32_MAX;
    int64_t moved = 0;
    for (size_t i = 0; i < bytes.size(); i += width) {
        uint8_t* entry = &bytes[i];
        const uint64_t offset = wide ? get_u64(entry) : get_u32(entry);
        if (offset < static_cast<uint64_t>(from)) continue;
        if (static_cast<uint64_t>(added) > limit - offset) return -1;
        if (wide)
            put_u64(entry, offset + static_cast<uint64_t>(added));
        else
            put_u32(entry, static_cast<uint32_t>(offset + static_cast<uint64_t>(added)));
        ++moved;
    }
    return moved;
}

int32_t MovFile::read_chunk_table(const Atom& table, bool wide, std::vector<ChunkTable>* tables) {
    uint8_t head[8];
    const int64_t room = table.end - table.payload - 8;
    if (room < 0 || read_at(table.payload, head, 8) != kReadDone) return -1;
    const uint64_t width = wide ? 8 : 4;
    const uint64_t count = get_u32(head + 4);
    if (count > static_cast<uint64_t>(room) / width) return -1;
    ChunkTable read{table.payload + 8, wide, std::vector<uint8_t>(count * width)};
    if (read_at(read.entries, read.bytes.data(), read.bytes.size()) != kReadDone) return -1;
    tables->push_back(std::move(read));
    return 0;
}

int32_t MovFile::read_chunk_tables(const Atom& moov, std::vector<ChunkTable>* tables) {
    Atom trak;
    for (int64_t pos = moov.payload;; pos = trak.end) {
        if (find("trak", pos, moov.end, &trak) != 0) return -1;
        if (trak.start == -1) return 0;
        Atom stbl = trak;
        for (const char* level : {"mdia", "minf", "stbl"}) {
            const Atom outer = stbl;
            if (find(level, outer.payload, outer.end, &stbl) != 0) return -1;
            if (stbl.start == -1) break;  // no sample table, so no chunks
        }
        if (stbl.start == -1) continue;
        for (const char* type : {"stco", "co64"}) {
            Atom table;
            if (find(type, stbl.payload, stbl.end, &table) != 0) return -1;
            if (table.start != -1 && read_chunk_table(table, type[0] == 'c', tables) != 0)
                return -1;
        }
    }
}

const char* MovFile::shift_chunk_offsets(const Atom& moov, int64_t from, int64_t added,
                                         std::vector<ChunkTable>* moved) {
    std::vector<ChunkTable> tables;
    if (read_chunk_tables(moov, &tables) != 0) return "broken chunk offset table";
    for (ChunkTable& table : tables) {
        const int64_t count = table.shift(from, added);
        if (count < 0) return "chunk offset would pass 2^32";
        if (count > 0) moved->push_back(std::move(table));
    }
    return nullptr;
}

bool MovFile::write_chunk_tables(const std::vector<ChunkTable>& tables, int64_t at, int64_t added) {
    for (const ChunkTable& table : tables) {
        const int64_t entries = table.entries >= at ? table.entries + added : table.entries;
        if (!write_at(entries, table.bytes.data(), table.bytes.size())) return false;
    }
    return true;
}

}  // namespace orbv
