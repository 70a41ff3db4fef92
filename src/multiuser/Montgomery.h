// Modular exponentiation in Montgomery's form with 64-bit limbs and a sliding window: the fast
// path of ModExp and of the Fermat test, for odd moduli.
#pragma once

#include "multiuser/MultiPrecision.h"

namespace remcons::mp {

// a (dDigits) = b^c mod d, for an odd modulus d above 1, b below d and c not zero.
void MontgomeryModExp(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
                      unsigned dDigits);
// Whether 2^a mod a = 2, for an odd a above 1.
bool MontgomeryFermat(const Digit* a, unsigned digits);

}  // namespace remcons::mp
