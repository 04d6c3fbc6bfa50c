#include "imaging/FocusFusion.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

namespace {

// Rec. 601 luminance of an RGB plane; the choice between planes is made on it
// and applied to all three channels, so colours are never mixed from planes.
const cv::Matx13f kLuma(0.299f, 0.587f, 0.114f);

constexpr int kMinLevelSize = 16;
constexpr int kMaxLevels = 8;

int levelsFor(cv::Size size)
{
    int levels = 0;
    int side = std::min(size.width, size.height);
    while (levels < kMaxLevels && side / 2 >= kMinLevelSize) {
        side /= 2;
        ++levels;
    }
    return levels;
}

// Runs f(rowBegin, rowEnd) over the rows of a matrix on all cores.
template <typename F> void forRows(int rows, F f)
{
    cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& r) { f(r.start, r.end); });
}

cv::Mat energyOf(const cv::Mat& lapRgb)
{
    cv::Mat y, e;
    cv::transform(lapRgb, y, kLuma);
    cv::multiply(y, y, e);
    cv::GaussianBlur(e, e, cv::Size(5, 5), 1.0, 1.0, cv::BORDER_REFLECT);
    return e;
}

} // namespace

struct FocusFusion::Private
{
    cv::Size size;
    int levels = 0;
    int planes = 0;
    // Per detail level: the chosen coefficients (RGB) and their local energy.
    std::vector<cv::Mat> lap, energy;
    // Coarsest level: sharpness-weighted sum of the planes and the weights.
    cv::Mat baseSum, baseWeight;
    // Height, at half resolution: the best focus measure, its z, and the
    // measures of the planes before and after it for a sub-plane fit.
    cv::Mat bestF, bestZ, beforeF, beforeZ, afterF, afterZ, prevF, bestIndex;
    double prevZ = 0;
    double minZ = 0, maxZ = 0;

    void fold(const cv::Mat& rgb32, double zUm);
    void foldHeight(const std::vector<cv::Mat>& lapY, double zUm);
};

FocusFusion::FocusFusion()
    : d(new Private)
{
}

FocusFusion::~FocusFusion() = default;

void FocusFusion::begin(QSize size)
{
    *d = Private();
    d->size = cv::Size(size.width(), size.height());
    d->levels = levelsFor(d->size);
    m_cancelled = false;
}

int FocusFusion::planeCount() const
{
    return d->planes;
}

void FocusFusion::cancel()
{
    m_cancelled = true;
}

bool FocusFusion::addPlane(const QImage& rgb, double zUm)
{
    if (rgb.isNull())
        return false;
    const QImage img = rgb.convertToFormat(QImage::Format_RGB888);
    const cv::Mat view(img.height(), img.width(), CV_8UC3, const_cast<uchar*>(img.constBits()),
                       static_cast<size_t>(img.bytesPerLine()));
    return addPlane(view, zUm);
}

bool FocusFusion::addPlane(const cv::Mat& plane, double zUm)
{
    if (m_cancelled || plane.empty() || plane.cols != d->size.width || plane.rows != d->size.height ||
        d->size.empty() || !std::isfinite(zUm))
        return false;
    const int depth = plane.depth();
    if ((depth != CV_8U && depth != CV_16U) || (plane.channels() != 1 && plane.channels() != 3))
        return false;
    // Work in float on the 8-bit scale whatever the input depth.
    cv::Mat rgb;
    plane.convertTo(rgb, CV_32F, depth == CV_16U ? 1.0 / 257.0 : 1.0);
    if (rgb.channels() == 1)
        cv::cvtColor(rgb, rgb, cv::COLOR_GRAY2RGB);
    d->fold(rgb, zUm);
    return !m_cancelled;
}

void FocusFusion::Private::fold(const cv::Mat& rgb32, double zUm)
{
    // Laplacian pyramid of this plane.
    std::vector<cv::Mat> gauss(static_cast<size_t>(levels) + 1);
    gauss[0] = rgb32;
    for (int k = 0; k < levels; ++k)
        cv::pyrDown(gauss[k], gauss[k + 1], cv::Size(), cv::BORDER_REFLECT101);
    std::vector<cv::Mat> lapY(static_cast<size_t>(levels));
    const bool first = planes == 0;
    if (first) {
        lap.resize(static_cast<size_t>(levels));
        energy.resize(static_cast<size_t>(levels));
    }
    cv::Mat baseEnergy;
    for (int k = 0; k < levels; ++k) {
        cv::Mat up, detail;
        cv::pyrUp(gauss[k + 1], up, gauss[k].size(), cv::BORDER_REFLECT101);
        cv::subtract(gauss[k], up, detail);
        gauss[k].release();
        cv::Mat e = energyOf(detail);
        cv::transform(detail, lapY[k], kLuma);
        if (first) {
            lap[k] = detail;
            energy[k] = e;
            continue;
        }
        // Take this plane where its energy is higher, after a majority vote over
        // a 5 x 5 neighbourhood so that noise cannot scatter single pixels.
        cv::Mat take = e > energy[k];
        cv::medianBlur(take, take, 5);
        detail.copyTo(lap[k], take);
        e.copyTo(energy[k], take);
        if (k == levels - 1)
            baseEnergy = e;
    }
    if (levels == 0)
        baseEnergy = cv::Mat::ones(gauss[0].size(), CV_32F);
    else if (first)
        baseEnergy = energy[levels - 1];

    // The coarsest level mixes the planes smoothly by their sharpness there,
    // so the base carries no seams that the finer levels would ring around.
    cv::Mat weight;
    cv::resize(baseEnergy, weight, gauss[levels].size(), 0, 0, cv::INTER_AREA);
    cv::GaussianBlur(weight, weight, cv::Size(5, 5), 0, 0, cv::BORDER_REFLECT);
    cv::multiply(weight, weight, weight);
    weight += 1e-6f;
    cv::Mat weighted;
    cv::Mat weight3;
    cv::merge(std::vector<cv::Mat>{weight, weight, weight}, weight3);
    cv::multiply(gauss[levels], weight3, weighted);
    if (first) {
        baseSum = weighted;
        baseWeight = weight;
    } else {
        baseSum += weighted;
        baseWeight += weight;
    }
    foldHeight(lapY, zUm);
    if (first)
        minZ = maxZ = zUm;
    minZ = std::min(minZ, zUm);
    maxZ = std::max(maxZ, zUm);
    ++planes;
}

void FocusFusion::Private::foldHeight(const std::vector<cv::Mat>& lapY, double zUm)
{
    // Focus measure: detail energy of the two finest levels at half resolution,
    // averaged over some pixels so a height follows structure, not noise.
    cv::Mat f;
    if (lapY.empty()) {
        f = cv::Mat::zeros(size, CV_32F);
    } else {
        cv::Mat e0;
        cv::multiply(lapY[0], lapY[0], e0);
        if (lapY.size() > 1) {
            cv::pyrDown(e0, f, lapY[1].size());
            cv::Mat e1;
            cv::multiply(lapY[1], lapY[1], e1);
            f += e1;
        } else {
            f = e0;
        }
        cv::GaussianBlur(f, f, cv::Size(0, 0), 3.0, 3.0, cv::BORDER_REFLECT);
    }
    const float z = static_cast<float>(zUm);
    if (planes == 0) {
        bestF = f.clone();
        bestZ = cv::Mat(f.size(), CV_32F, cv::Scalar(z));
        beforeF = cv::Mat(f.size(), CV_32F, cv::Scalar(-1));
        beforeZ = cv::Mat(f.size(), CV_32F, cv::Scalar(z));
        afterF = beforeF.clone();
        afterZ = beforeZ.clone();
        bestIndex = cv::Mat(f.size(), CV_32S, cv::Scalar(0));
        prevF = f;
        prevZ = zUm;
        return;
    }
    const float pz = static_cast<float>(prevZ);
    const int index = planes;
    forRows(f.rows, [&](int r0, int r1) {
        for (int r = r0; r < r1; ++r) {
            const float* fr = f.ptr<float>(r);
            const float* pf = prevF.ptr<float>(r);
            float* bf = bestF.ptr<float>(r);
            float* bz = bestZ.ptr<float>(r);
            float* bef = beforeF.ptr<float>(r);
            float* bez = beforeZ.ptr<float>(r);
            float* af = afterF.ptr<float>(r);
            float* az = afterZ.ptr<float>(r);
            int* bi = bestIndex.ptr<int>(r);
            for (int c = 0; c < f.cols; ++c) {
                if (fr[c] > bf[c]) {
                    bef[c] = pf[c];
                    bez[c] = pz;
                    bf[c] = fr[c];
                    bz[c] = z;
                    af[c] = -1;
                    bi[c] = index;
                } else if (bi[c] == index - 1) {
                    af[c] = fr[c];
                    az[c] = z;
                }
            }
        }
    });
    prevF = f;
    prevZ = zUm;
}

FusionResult FocusFusion::finish()
{
    FusionResult result;
    if (m_cancelled || d->planes == 0)
        return result;
    Private& p = *d;

    // Collapse the pyramid.
    cv::Mat base3;
    cv::Mat weight3;
    cv::merge(std::vector<cv::Mat>{p.baseWeight, p.baseWeight, p.baseWeight}, weight3);
    cv::divide(p.baseSum, weight3, base3);
    cv::Mat img = base3;
    for (int k = p.levels - 1; k >= 0; --k) {
        cv::Mat up;
        cv::pyrUp(img, up, p.lap[k].size(), cv::BORDER_REFLECT101);
        img = up + p.lap[k];
    }
    cv::Mat out8;
    img.convertTo(out8, CV_8U);
    QImage picture(out8.cols, out8.rows, QImage::Format_RGB888);
    for (int r = 0; r < out8.rows; ++r)
        memcpy(picture.scanLine(r), out8.ptr(r), static_cast<size_t>(out8.cols) * 3);
    result.picture = picture;

    // Height: a log-parabola (Gaussian) through the best plane and its
    // neighbours where both exist and lie on either side of it in z.
    cv::Mat h = p.bestZ.clone();
    forRows(h.rows, [&](int r0, int r1) {
        for (int r = r0; r < r1; ++r) {
            float* hz = h.ptr<float>(r);
            const float* f0 = p.bestF.ptr<float>(r);
            const float* fb = p.beforeF.ptr<float>(r);
            const float* fa = p.afterF.ptr<float>(r);
            const float* zb = p.beforeZ.ptr<float>(r);
            const float* za = p.afterZ.ptr<float>(r);
            for (int c = 0; c < h.cols; ++c) {
                const float z0 = hz[c];
                if (fb[c] <= 0 || fa[c] <= 0 || f0[c] <= 0 || (zb[c] - z0) * (za[c] - z0) >= 0)
                    continue;
                const double y0 = std::log(f0[c]), y1 = std::log(fb[c]), y2 = std::log(fa[c]);
                const double x1 = zb[c] - z0, x2 = za[c] - z0;
                // y = a x^2 + b x + y0 through (x1, y1) and (x2, y2)
                const double den = x1 * x2 * (x1 - x2);
                const double a = (x2 * (y1 - y0) - x1 * (y2 - y0)) / den;
                const double b = (x1 * x1 * (y2 - y0) - x2 * x2 * (y1 - y0)) / den;
                if (a >= 0)
                    continue;
                const double shift = std::clamp(-b / (2 * a), std::min(x1, x2) / 2, std::max(x1, x2) / 2);
                hz[c] = static_cast<float>(z0 + shift);
            }
        }
    });
    cv::medianBlur(h, h, 5);
    cv::resize(h, result.heightUm, p.size, 0, 0, cv::INTER_LINEAR);
    result.minUm = p.minZ;
    result.maxUm = p.maxZ;
    return result;
}
