// Huffman code tables of the encoder: code assignment from DHT data (T.81 Annex C), optimal tables from
// symbol statistics (T.81 Annex K.2), and baseline block coding (T.81 F.1.2).
#pragma once

#include <cstdint>
#include <vector>

#include "mxpegenc/BitSink.h"

namespace mxpegenc {

// Magnitude category (bits needed) of v.
int MagnitudeSize(int v);

// spec: 16 code counts followed by the symbols. Fills code[symbol] and length[symbol] (0: no code).
void BuildCodeTable(const std::vector<uint8_t>& spec, uint16_t* code, uint8_t* length);

// DHT data (16 counts + symbols) of an optimal table for the 256 frequencies, no code longer than 16
// bits and no code of all 1-bits. Symbols with frequency 0 get no code.
std::vector<uint8_t> BuildOptimalTable(const uint32_t* frequencies);

// Adds the DC symbol (difference against pred, which becomes the block's DC) and the AC symbols of a
// block in natural order to the frequency counts.
void CountBlockSymbols(const int16_t* block, int& pred, const uint8_t* zigzag, uint32_t* dcFreq, uint32_t* acFreq);

// Writes one block (natural order) with the given code tables; pred as above.
void EncodeBlock(BitSink& sink, const int16_t* block, int& pred, const uint8_t* zigzag, const uint16_t* dcCode,
                 const uint8_t* dcLength, const uint16_t* acCode, const uint8_t* acLength);

}  // namespace mxpegenc
