// Chunks read back from the stream, as one line of text for people or as a JSON object: what
// the kdem tool prints and what the tests compare.
//
// Plain: "player slot=3 mask=0x03 pos=10,-20,90 health=100", "map name=\"de_dust\" zoom=130
// rotated=1 x=-832 y=2464", "score t=1 ct=2", "hbeat bytes=2,0,0", ...: the kind, then key=value
// pairs. JSON: {"type":"player","slot":3,"mask":3,"pos":[10,-20,90],"health":100}. A player
// chunk shows only the groups it carries.
#pragma once

#include <cstddef>

class ChunkReader;
class PacketChunk;

enum class TextStyle { plain, json };

// Describes the chunk that reader.next() just returned into out (always terminated, cut at
// size). Texts are escaped: '"', '\\' and bytes outside printable ASCII never appear raw.
void describeChunk(const ChunkReader& reader, const PacketChunk* chunk, TextStyle style,
                   char* out, size_t size);
