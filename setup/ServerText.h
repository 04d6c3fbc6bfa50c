#pragma once

#include <QString>

// Text that the server chose, made safe to lay out: Qt's line breaking takes
// time growing with the square of a word's length, so a reply holding one
// enormous word would freeze the window. Runs without white space longer than
// maxRun get an invisible break opportunity (U+200B) every maxRun characters.
namespace ServerText {

QString breakLongRuns(const QString& text, int maxRun = 1024);

// The same for rich text: tags and entities such as "&amp;" are copied whole
// and never broken, and each ends where the toolkit's rich-text reader ends
// it: a quote opens a string only at the start of an attribute, and a '<'
// that never closes hides the rest of the text. An entity counts at its full
// length, a tag not at all. Linear in the length of the text.
QString breakLongRunsInMarkup(const QString& text, int maxRun = 1024);

} // namespace ServerText
