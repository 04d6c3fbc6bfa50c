#pragma once

#include <QString>

// A number that a person typed into a coordinate field. People type the
// decimal mark of their desktop, so "23.9" and "23,9" both mean 23.9; text
// that is not a number counts as 0.
namespace CoordinateField {

float read(const QString& text);

} // namespace CoordinateField
