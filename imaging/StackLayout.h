#pragma once

#include "imaging/OmeXml.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// Where the planes of a stack lie among the pages of a TIFF: its channels,
// z-planes and time points, and the page of every channel and z at the first
// time point, as the file's OME-XML or ImageJ description says. Pure
// functions of the metadata; the pages themselves are checked by the reader.
struct StackLayout
{
    int channels = 1, sizeZ = 1, sizeT = 1;
    double zStepUm = 0; // ImageJ's spacing in µm; 0 when not given
    QVector<int> pages; // the page of channel c and plane z at [c + channels * z]

    // "2 channels × 4 z-planes", naming channels and time points when there are several.
    QString describe() const;

    // Every page one z-plane.
    static StackLayout planes(int count);
    // Pixels sizes, DimensionOrder and TiffData blocks; samplesPerPage is the
    // pages' SamplesPerPixel (three for one RGB channel, one for channels apart).
    static bool fromOme(const OmeImage& image, int samplesPerPage, int maxPages, StackLayout* out, QString* why);
    // ImageJ's "ImageJ=...\nimages=8\nchannels=2\nslices=4\nspacing=2.5\nunit=micron\n",
    // its pages channel first, then slice, then frame.
    static bool fromImageJ(const QByteArray& description, int maxPages, StackLayout* out, QString* why);
};
