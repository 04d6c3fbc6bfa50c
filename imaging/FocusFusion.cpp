#include "imaging/FocusFusion.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

namespace {

// Rec. 601 luminance of an RGB plane; the choice between planes is made on it
// and applied to all three channels, so colours are never mixed from planes.
constexpr float kLuma[3] = {0.299f, 0.587f, 0.114f};

constexpr int kMinLevelSize = 16;
constexpr int kMaxLevels = 8;
// Window of the sharpness: two 9 x 9 box passes at half resolution, close to
// a Gaussian of sigma 7 pixels. Smaller windows let sensor noise decide.
constexpr int kEnergyBox = 9;
constexpr int kMajority = 5; // window of the choice map's majority vote
// A height is sure where its plane is this much sharper than the blurriest.
constexpr float kSureContrast = 2;

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

// Runs f(rowBegin, rowEnd) over a few bands of rows on all cores. Few: a
// filter re-reads the rows around each band, and a call costs setup time.
template <typename F> void forRows(int rows, F f)
{
    const int bands = std::min(rows, 2 * std::max(1, cv::getNumThreads()));
    cv::parallel_for_(
        cv::Range(0, bands), [&](const cv::Range& b) { f(rows * b.start / bands, rows * b.end / bands); }, bands);
}

// Two box passes over all cores. OpenCV filters read the rows beyond a band
// from the parent matrix, so bands give the same result as the whole.
void localMean(const cv::Mat& src, cv::Mat& tmp, cv::Mat& dst, int box)
{
    tmp.create(src.size(), src.type());
    dst.create(src.size(), src.type());
    const cv::Size k(box, box);
    forRows(src.rows, [&](int r0, int r1) {
        cv::Mat out = tmp.rowRange(r0, r1);
        cv::boxFilter(src.rowRange(r0, r1), out, -1, k, cv::Point(-1, -1), true, cv::BORDER_REFLECT);
    });
    forRows(src.rows, [&](int r0, int r1) {
        cv::Mat out = dst.rowRange(r0, r1);
        cv::boxFilter(tmp.rowRange(r0, r1), out, -1, k, cv::Point(-1, -1), true, cv::BORDER_REFLECT);
    });
}

// Majority vote over a window of a 0/255 choice map: its local mean above
// one half. A box filter, like the sharpness, reads beyond each band.
void majority(const cv::Mat& src, cv::Mat& tmp, cv::Mat& dst)
{
    tmp.create(src.size(), CV_8U);
    dst.create(src.size(), CV_8U);
    forRows(src.rows, [&](int r0, int r1) {
        cv::Mat mean = tmp.rowRange(r0, r1), out = dst.rowRange(r0, r1);
        cv::blur(src.rowRange(r0, r1), mean, cv::Size(kMajority, kMajority), cv::Point(-1, -1), cv::BORDER_REFLECT);
        cv::threshold(mean, out, 127, 255, cv::THRESH_BINARY);
    });
}

// One row of a detail level: level - expanded coarser level, and the weighted
// sum of its channels squared. CN fixes the channel count for the compiler
// (RGB and grey); 0 takes it from cn.
template <int CN>
void detailRow(const float* g, const float* u, float* det, float* sq, int width, const float* wt, int cn)
{
    const int n = CN > 0 ? CN : cn;
    for (int c = 0; c < width; ++c) {
        float y = 0;
        for (int k = 0; k < n; ++k) {
            det[n * c + k] = g[n * c + k] - u[n * c + k];
            y += wt[k] * det[n * c + k];
        }
        sq[c] = y * y;
    }
}

// 8-bit planes as they are; 16-bit ones stretched from their darkest to
// their brightest value, since a 12-bit camera fills a sixteenth of the range.
QImage eightBitRgb(const cv::Mat& image)
{
    cv::Mat eight = image;
    if (image.depth() == CV_16U) {
        double lo = 0, hi = 0;
        cv::minMaxLoc(image.reshape(1), &lo, &hi);
        const double scale = hi > lo ? 255.0 / (hi - lo) : 0.0;
        image.convertTo(eight, CV_8U, scale, -lo * scale);
    }
    QImage picture(image.cols, image.rows, QImage::Format_RGB888);
    for (int r = 0; r < image.rows; ++r) {
        cv::Mat row(1, image.cols, CV_8UC3, picture.scanLine(r));
        if (eight.channels() == 1)
            cv::cvtColor(eight.row(r), row, cv::COLOR_GRAY2RGB);
        else
            eight.row(r).copyTo(row);
    }
    return picture;
}

} // namespace

struct FocusFusion::Private
{
    cv::Size size;
    Sharpness by = Sharpness::Luminance;
    int levels = 0;
    int planes = 0;
    int depth = CV_8U, channels = 1;
    std::vector<float> weights; // of each channel in the sharpness
    // Per detail level: the chosen coefficients (all channels) and their sharpness.
    std::vector<cv::Mat> lap, sharpness;
    // Coarsest level: sharpness-weighted sum of the planes and the weights.
    cv::Mat baseSum, baseWeight;
    // Height, at half resolution: the best focus measure, its z, and the
    // measures of the planes before and after it for a sub-plane fit.
    cv::Mat bestF, bestZ, beforeF, beforeZ, afterF, afterZ, prevF, bestIndex;
    // The weakest measure of any plane: where the best is not clearly above
    // it (glass, a lumen), no plane is in focus more than another.
    cv::Mat leastF;
    double prevZ = 0;
    double minZ = 0, maxZ = 0;
    // Work space, per level, reused so that no plane allocates afresh.
    struct Work
    {
        cv::Mat up, detail, square, e, take, votes, chosen;
    };
    std::vector<Work> work;
    cv::Mat converted, plane, fine, tmp, f, weight, weightN, weighted;
    std::vector<cv::Mat> gauss;

    void fold(double zUm);
    void foldHeight(double zUm);
};

FocusFusion::FocusFusion()
    : d(new Private)
{
}

FocusFusion::~FocusFusion() = default;

void FocusFusion::begin(QSize size, Sharpness by)
{
    *d = Private();
    d->size = cv::Size(size.width(), size.height());
    d->by = by;
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
    if (rgb.format() == QImage::Format_RGB32 || rgb.format() == QImage::Format_ARGB32) {
        // Decoded JPEG frames: BGRA in memory; the conversion runs on all cores.
        const cv::Mat bgra(rgb.height(), rgb.width(), CV_8UC4, const_cast<uchar*>(rgb.constBits()),
                           static_cast<size_t>(rgb.bytesPerLine()));
        cv::cvtColor(bgra, d->converted, cv::COLOR_BGRA2RGB);
        return addPlane(d->converted, zUm);
    }
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
    const int depth = plane.depth(), cn = plane.channels();
    if ((depth != CV_8U && depth != CV_16U) || cn > kMaxChannels ||
        (d->by == Sharpness::Luminance && cn != 1 && cn != 3) ||
        (d->planes > 0 && (depth != d->depth || cn != d->channels)))
        return false;
    if (d->planes == 0) {
        d->depth = depth;
        d->channels = cn;
        d->weights.assign(size_t(cn), 1.0f);
        if (d->by == Sharpness::Luminance && cn == 3)
            d->weights.assign(kLuma, kLuma + 3);
    }
    // Work in float on the planes' own scale: 16 bits keep their precision.
    d->plane.create(plane.size(), CV_32FC(cn));
    forRows(plane.rows, [&](int r0, int r1) {
        cv::Mat out = d->plane.rowRange(r0, r1);
        plane.rowRange(r0, r1).convertTo(out, CV_32F);
    });
    d->fold(zUm);
    return !m_cancelled;
}

void FocusFusion::Private::fold(double zUm)
{
    const size_t n = static_cast<size_t>(levels);
    gauss.resize(n + 1);
    work.resize(n);
    gauss[0] = plane;
    const int cn = channels;
    const float* wt = weights.data();
    for (size_t k = 0; k < n; ++k)
        cv::pyrDown(gauss[k], gauss[k + 1], cv::Size(), cv::BORDER_REFLECT101);
    const bool first = planes == 0;
    if (first) {
        lap.resize(n);
        sharpness.resize(n);
    }
    for (size_t k = 0; k < n; ++k) {
        const cv::Size sz = gauss[k].size();
        Work& w = work[k];
        cv::pyrUp(gauss[k + 1], w.up, sz, cv::BORDER_REFLECT101);
        w.detail.create(sz, CV_32FC(cn));
        w.square.create(sz, CV_32F);
        // One pass: detail = level - expanded coarser level, and its weighted sum squared.
        forRows(sz.height, [&](int r0, int r1) {
            for (int r = r0; r < r1; ++r) {
                const float* g = gauss[k].ptr<float>(r);
                const float* u = w.up.ptr<float>(r);
                float* det = w.detail.ptr<float>(r);
                float* sq = w.square.ptr<float>(r);
                if (cn == 3)
                    detailRow<3>(g, u, det, sq, sz.width, wt, cn);
                else if (cn == 1)
                    detailRow<1>(g, u, det, sq, sz.width, wt, cn);
                else
                    detailRow<0>(g, u, det, sq, sz.width, wt, cn);
            }
        });
    }

    // The choice at every level follows the sharpness of the finest detail
    // around the point, not the level's own energy: blur moves energy into the
    // coarse levels, where a defocused plane would win and leave a ghost.
    const size_t fl = n > 1 ? 1 : 0;
    if (n > 1) {
        cv::pyrDown(work[0].square, fine, work[1].square.size(), cv::BORDER_REFLECT101);
        fine += work[1].square;
        localMean(fine, tmp, f, kEnergyBox);
    } else if (n == 1) {
        localMean(work[0].square, tmp, f, kEnergyBox);
    }
    for (size_t k = 0; k < n; ++k) {
        Work& w = work[k];
        if (k == fl)
            f.copyTo(w.e);
        else if (k < fl)
            cv::pyrUp(f, w.e, w.square.size(), cv::BORDER_REFLECT101);
        else
            cv::pyrDown(work[k - 1].e, w.e, w.square.size(), cv::BORDER_REFLECT101);
        if (first) {
            lap[k] = w.detail.clone();
            sharpness[k] = w.e.clone();
            continue;
        }
        const cv::Size sz = w.e.size();
        // Take this plane where it is sharper, after a majority vote so that
        // noise cannot scatter single pixels of other planes.
        cv::compare(w.e, sharpness[k], w.take, cv::CMP_GT);
        majority(w.take, w.votes, w.chosen);
        forRows(sz.height, [&](int r0, int r1) {
            for (int r = r0; r < r1; ++r) {
                const uchar* t = w.chosen.ptr<uchar>(r);
                const float* det = w.detail.ptr<float>(r);
                const float* en = w.e.ptr<float>(r);
                float* l = lap[k].ptr<float>(r);
                float* acc = sharpness[k].ptr<float>(r);
                for (int c = 0; c < sz.width; ++c) {
                    if (!t[c])
                        continue;
                    std::copy_n(det + cn * c, cn, l + cn * c);
                    acc[c] = en[c];
                }
            }
        });
    }

    // The coarsest level mixes the planes smoothly by their sharpness, so the
    // base carries no seams that the finer levels would ring around.
    if (levels == 0) {
        weight = cv::Mat::ones(gauss[0].size(), CV_32F);
    } else {
        cv::resize(work[n - 1].e, weight, gauss[n].size(), 0, 0, cv::INTER_AREA);
        cv::GaussianBlur(weight, weight, cv::Size(5, 5), 0, 0, cv::BORDER_REFLECT);
        cv::multiply(weight, weight, weight);
    }
    weight += 1e-6f;
    cv::merge(std::vector<cv::Mat>(size_t(cn), weight), weightN);
    cv::multiply(gauss[n], weightN, weighted);
    if (first) {
        baseSum = weighted.clone();
        baseWeight = weight.clone();
    } else {
        baseSum += weighted;
        baseWeight += weight;
    }
    foldHeight(zUm);
    if (first)
        minZ = maxZ = zUm;
    minZ = std::min(minZ, zUm);
    maxZ = std::max(maxZ, zUm);
    ++planes;
}

void FocusFusion::Private::foldHeight(double zUm)
{
    // The sharpness of the choice serves as focus measure: detail energy of the
    // two finest levels, at half resolution, averaged so that a height follows
    // structure, not noise.
    if (levels == 0)
        f = cv::Mat::zeros(size, CV_32F);
    const float z = static_cast<float>(zUm);
    if (planes == 0) {
        bestF = f.clone();
        leastF = f.clone();
        bestZ = cv::Mat(f.size(), CV_32F, cv::Scalar(z));
        beforeF = cv::Mat(f.size(), CV_32F, cv::Scalar(-1));
        beforeZ = cv::Mat(f.size(), CV_32F, cv::Scalar(z));
        afterF = beforeF.clone();
        afterZ = beforeZ.clone();
        bestIndex = cv::Mat(f.size(), CV_32S, cv::Scalar(0));
        prevF = f.clone();
        prevZ = zUm;
        return;
    }
    const float pz = static_cast<float>(prevZ);
    const int index = planes;
    forRows(f.rows, [&](int r0, int r1) {
        for (int r = r0; r < r1; ++r) {
            const float* fr = f.ptr<float>(r);
            float* pf = prevF.ptr<float>(r);
            float* bf = bestF.ptr<float>(r);
            float* lf = leastF.ptr<float>(r);
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
                pf[c] = fr[c];
                lf[c] = std::min(lf[c], fr[c]);
            }
        }
    });
    prevZ = zUm;
}

FusionResult FocusFusion::finish()
{
    FusionResult result;
    if (m_cancelled || d->planes == 0)
        return result;
    Private& p = *d;

    // Collapse the pyramid.
    cv::Mat weightN, img;
    cv::merge(std::vector<cv::Mat>(size_t(p.channels), p.baseWeight), weightN);
    cv::divide(p.baseSum, weightN, img);
    for (int k = p.levels - 1; k >= 0; --k) {
        cv::Mat up;
        cv::pyrUp(img, up, p.lap[size_t(k)].size(), cv::BORDER_REFLECT101);
        img = up + p.lap[size_t(k)];
    }
    img.convertTo(result.image, p.depth);
    if (p.channels == 1 || p.channels == 3)
        result.picture = eightBitRgb(result.image);

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
                const double z0 = hz[c], x1 = zb[c] - z0, x2 = za[c] - z0;
                if (fb[c] <= 0 || fa[c] <= 0 || f0[c] <= 0 || x1 * x2 >= 0)
                    continue;
                const double y0 = std::log(f0[c]), y1 = std::log(fb[c]) - y0, y2 = std::log(fa[c]) - y0;
                // y = a x^2 + b x through (x1, y1) and (x2, y2), relative to the best plane
                const double den = x1 * x2 * (x1 - x2);
                const double a = (x2 * y1 - x1 * y2) / den;
                const double b = (x1 * x1 * y2 - x2 * x2 * y1) / den;
                if (a >= 0)
                    continue;
                hz[c] = static_cast<float>(z0 + std::clamp(-b / (2 * a), std::min(x1, x2) / 2, std::max(x1, x2) / 2));
            }
        }
    });
    cv::medianBlur(h, h, 5);
    // Where no plane stood out, fill in from the surroundings that had one
    // (normalised convolution) rather than show noise.
    const cv::Mat sure = p.bestF > kSureContrast * p.leastF + 1e-3f;
    if (const int n = cv::countNonZero(sure); n > 0 && size_t(n) < sure.total()) {
        cv::Mat weight, sum;
        sure.convertTo(weight, CV_32F, 1.0 / 255);
        const double sigma = std::max(h.cols, h.rows) / 32.0;
        cv::GaussianBlur(h.mul(weight), sum, cv::Size(0, 0), sigma, sigma, cv::BORDER_REFLECT);
        cv::GaussianBlur(weight, weight, cv::Size(0, 0), sigma, sigma, cv::BORDER_REFLECT);
        cv::Mat filled = sum / cv::max(weight, 1e-6f);
        filled.copyTo(h, ~sure & (weight > 1e-3f));
    }
    cv::resize(h, result.heightUm, p.size, 0, 0, cv::INTER_LINEAR);
    result.minUm = p.minZ;
    result.maxUm = p.maxZ;
    return result;
}
