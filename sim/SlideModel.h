#pragma once

#include <QPoint>
#include <QString>
#include <QVector>

// A synthetic slide, generated deterministically from its name and a seed:
// tissue sections with cells, nuclei, fibres and glands on glass, a label at
// the left end, and a smooth focal surface. Positions are stage units
// (0.1 um) over the 75.67 x 50.325 mm travel.
class SlideModel
{
public:
    static constexpr double kWidthUnits = 756700.0;
    static constexpr double kHeightUnits = 503250.0;
    static constexpr double kZMax = 30000.0;
    static constexpr int kWholeWidth = 3060;
    static constexpr int kWholeHeight = 2036;

    struct Rgb
    {
        float r, g, b;
    };
    // The slowly varying fields at a point; rendering interpolates them on a
    // coarse grid and adds the fine structure per pixel.
    struct Coarse
    {
        float tissue = 0;     // 0 glass .. 1 tissue
        float fibrePhase = 0; // phase warp of the fibres
        float gland = 0;      // 0..1, lumen above kLumen
        float nuclei = 0;     // probability of a nucleus per cell
    };
    struct Mark
    {
        QString word;
        double x, y;
    };
    // The picture corners of the calibrated rectangle and its size in mm.
    struct Fiducials
    {
        QPoint p[4];
        double widthMm, heightMm;
    };

    SlideModel(const QString& name, quint32 seed);

    const QString& name() const { return m_name; }
    // Slides named "tilted-..." lie steeply on the stage (see focalPlaneAt).
    bool isTilted() const { return m_tilted; }
    double focalPlaneAt(double x, double y) const;
    Coarse coarseAt(double x, double y) const;
    // Colour at a stage point; footprint is the size of one picture pixel in
    // stage units, so structure finer than a pixel is averaged, not aliased.
    Rgb colourAt(double x, double y, const Coarse& c, double footprint) const;
    // Truth for tests: the share of the w x h region centred on (x, y)
    // showing tissue or cells, sampled every 2 µm.
    double tissueShare(double x, double y, double w, double h) const;
    const QVector<Mark>& marks() const { return m_marks; }
    const Fiducials& fiducials() const { return m_fiducials; }
    // The whole-slide picture's mapping, derived from the integer corners the
    // same way a client calibrates, so the file describes the picture exactly.
    void wholePixelToStage(double px, double py, double* x, double* y) const;
    void stageToWholePixel(double x, double y, double* px, double* py) const;

private:
    struct Section
    {
        double cx, cy, rx, ry, c, s;
        float nuclei;
    };
    QString m_name;
    quint32 m_salt;
    bool m_sparse; // loose cells instead of tissue sections
    bool m_tilted;
    QVector<Section> m_sections;
    QVector<Mark> m_marks;
    Fiducials m_fiducials;
    double m_fibreC, m_fibreS;
    double m_phase1, m_phase2, m_tiltX, m_tiltY;
    // calibration as read back from the fiducials
    double m_scaleX, m_scaleY, m_angle, m_originX, m_originY;
};
