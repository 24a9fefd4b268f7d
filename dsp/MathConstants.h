#pragma once

// The one value of pi every module uses, so that tables built from it agree
// to the last bit wherever they are computed.
constexpr double kPi = 3.14159265358979323846;
