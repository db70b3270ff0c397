#pragma once
// The Square block cipher's rounds and key schedule, shared by the cipher
// class and the Square digest. The state is four little-endian row words;
// element j of row i is byte j of word i.
#include <cstdint>

namespace kv::crypto::square {

constexpr int kRounds = 8;
using RoundKeys = uint32_t[kRounds + 1][4];

// The encoding round keys of a key of four words: keys 0 to 7 through the
// linear step theta, key 8 as the key evolution left it. raw, when given,
// receives all nine as the evolution left them.
void MakeEncodeKeys(const uint32_t (&key)[4], RoundKeys& encode, RoundKeys* raw = nullptr);
// The initial key addition, 7 table rounds and the final round with S-box
// and transposition.
void Encode(const RoundKeys& keys, uint32_t (&block)[4]);
// The inverse, with the keys in reverse order: key 8, keys 7 to 1 as the
// evolution left them, key 0 through theta.
void Decode(const RoundKeys& keys, uint32_t (&block)[4]);

}  // namespace kv::crypto::square
