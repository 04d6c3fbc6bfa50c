#pragma once

#include <QImage>
#include <QSize>
#include <atomic>
#include <memory>
#include <opencv2/core.hpp>

struct FusionResult
{
    cv::Mat image; // the planes' depth (CV_8U or CV_16U) and channels
    // RGB888 of a grey or RGB image, 16-bit ones stretched from their own
    // darkest to brightest value; null for other channel counts.
    QImage picture;
    cv::Mat heightUm; // CV_32F, the z at which each point is sharpest
    double minUm = 0, maxUm = 0;
};

// All-in-focus fusion of a z-stack as a fold: each plane is merged into a
// Laplacian pyramid that keeps, per level and pixel, the coefficients of the
// plane with the most local energy, and the plane is then released. Memory
// does not depend on the number of planes. Runs on any one thread at a time;
// cancel() may come from another thread.
class FocusFusion
{
public:
    FocusFusion();
    ~FocusFusion();
    FocusFusion(const FocusFusion&) = delete;
    FocusFusion& operator=(const FocusFusion&) = delete;

    // What decides which plane is sharpest at a point: the luminance of RGB
    // (or grey) planes, or the sum of channels recorded apart, each of which
    // is then fused with the same choice of planes.
    enum class Sharpness { Luminance, ChannelSum };
    static constexpr int kMaxChannels = 16;

    void begin(QSize size, Sharpness by = Sharpness::Luminance);
    // Any QImage format; it is converted to RGB. False when cancelled or the
    // size differs from begin().
    bool addPlane(const QImage& rgb, double zUm);
    // CV_8U or CV_16U, all planes alike; one or three channels (RGB order)
    // by luminance, up to kMaxChannels by their sum.
    bool addPlane(const cv::Mat& plane, double zUm);
    int planeCount() const;
    // An empty result when no plane was added or the fusion was cancelled.
    FusionResult finish();
    void cancel();
    bool isCancelled() const { return m_cancelled.load(); }

private:
    struct Private;
    std::unique_ptr<Private> d;
    std::atomic<bool> m_cancelled{false};
};
