// The engine's kernels, compiled once per instruction set (Highway's foreach_target) and picked
// at run time. Every formula keeps the single forms' constants and order of operations; only
// sin, cos and atan are vector approximations (a few ulp).
// Scalable (SVE) vectors cannot be struct members; arm64 uses NEON.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
#endif
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "coords/convert_kernels.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
// foreach_target re-includes this file once per target; what follows must come after it.
#include "hwy/contrib/math/math-inl.h"
#include "hwy/highway.h"

#include <cmath>
#include <cstring>

#include "coords/convert_engine.h"

HWY_BEFORE_NAMESPACE();
namespace orv::detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D = hn::ScalableTag<double>;
using V = hn::Vec<D>;
using M = hn::Mask<D>;

constexpr double kA = 6378245.0;
constexpr double kEe = 0.006693421622965943;
constexpr double kPi = 3.141592653589793;
constexpr double kXPi = 52.35987755982988;
// Beyond this the vector sine's range reduction no longer holds (for x * xPi); such inputs, and
// those that are not finite, take the single forms.
constexpr double kVectorRange = 700.0;
constexpr size_t kMaxLanes = HWY_MAX_BYTES / sizeof(double);

struct Pair {
  V lat, lng;
};

// (coefficient × sin(argument)) × 2 / 3, as the offset functions form each periodic term.
HWY_INLINE V periodicTerm(D d, double coefficient, V argument) {
  return hn::Div(hn::Mul(hn::Mul(hn::Set(d, coefficient), hn::Sin(d, argument)), hn::Set(d, 2.0)),
                 hn::Set(d, 3.0));
}

// The region's bounds, which belong to it.
constexpr double kMinLat = 0.8293, kMaxLat = 55.8271, kMinLng = 72.004, kMaxLng = 137.8347;

HWY_INLINE M outsideRegion(D d, Pair p) {
  return hn::Or(hn::Or(hn::Lt(p.lng, hn::Set(d, kMinLng)), hn::Gt(p.lng, hn::Set(d, kMaxLng))),
                hn::Or(hn::Lt(p.lat, hn::Set(d, kMinLat)), hn::Gt(p.lat, hn::Set(d, kMaxLat))));
}

HWY_INLINE Pair wgsToGcj(D d, Pair p) {
  const M outside = outsideRegion(d, p);
  if (hn::AllTrue(d, outside)) return p;
  const V pi = hn::Set(d, kPi);
  const V x = hn::Sub(p.lng, hn::Set(d, 105.0));
  const V y = hn::Sub(p.lat, hn::Set(d, 35.0));
  const V sqrtAbsX = hn::Sqrt(hn::Abs(x));
  const V pix = hn::Mul(pi, x), piy = hn::Mul(pi, y);
  const V t6x = periodicTerm(d, 20.0, hn::Mul(hn::Set(d, 6.0 * kPi), x));
  const V t2x = periodicTerm(d, 20.0, hn::Mul(hn::Set(d, 2.0 * kPi), x));

  V dLat = hn::Add(hn::Set(d, -100.0), hn::Mul(hn::Set(d, 2.0), x));
  dLat = hn::Add(dLat, hn::Mul(hn::Set(d, 3.0), y));
  dLat = hn::Add(dLat, hn::Mul(hn::Mul(hn::Set(d, 0.2), y), y));
  dLat = hn::Add(dLat, hn::Mul(hn::Mul(hn::Set(d, 0.1), x), y));
  dLat = hn::Add(dLat, hn::Mul(hn::Set(d, 0.2), sqrtAbsX));
  dLat = hn::Add(dLat, t6x);
  dLat = hn::Add(dLat, t2x);
  dLat = hn::Add(dLat, periodicTerm(d, 20.0, piy));
  dLat = hn::Add(dLat, periodicTerm(d, 40.0, hn::Div(piy, hn::Set(d, 3.0))));
  dLat = hn::Add(dLat, periodicTerm(d, 160.0, hn::Div(piy, hn::Set(d, 12.0))));
  dLat = hn::Add(dLat, periodicTerm(d, 320.0, hn::Div(piy, hn::Set(d, 30.0))));

  V dLng = hn::Add(hn::Set(d, 300.0), x);
  dLng = hn::Add(dLng, hn::Mul(hn::Set(d, 2.0), y));
  dLng = hn::Add(dLng, hn::Mul(hn::Mul(hn::Set(d, 0.1), x), x));
  dLng = hn::Add(dLng, hn::Mul(hn::Mul(hn::Set(d, 0.1), x), y));
  dLng = hn::Add(dLng, hn::Mul(hn::Set(d, 0.1), sqrtAbsX));
  dLng = hn::Add(dLng, t6x);
  dLng = hn::Add(dLng, t2x);
  dLng = hn::Add(dLng, periodicTerm(d, 20.0, pix));
  dLng = hn::Add(dLng, periodicTerm(d, 40.0, hn::Div(pix, hn::Set(d, 3.0))));
  dLng = hn::Add(dLng, periodicTerm(d, 150.0, hn::Div(pix, hn::Set(d, 12.0))));
  dLng = hn::Add(dLng, periodicTerm(d, 300.0, hn::Div(pix, hn::Set(d, 30.0))));

  const V radLat = hn::Mul(hn::Div(p.lat, hn::Set(d, 180.0)), pi);
  const V sinLat = hn::Sin(d, radLat);
  const V magic = hn::Sub(hn::Set(d, 1.0), hn::Mul(hn::Mul(hn::Set(d, kEe), sinLat), sinLat));
  const V sqrtMagic = hn::Sqrt(magic);
  const V k180 = hn::Set(d, 180.0);
  dLat = hn::Div(hn::Mul(dLat, k180),
                 hn::Mul(hn::Div(hn::Set(d, kA * (1.0 - kEe)), hn::Mul(magic, sqrtMagic)), pi));
  dLng = hn::Div(hn::Mul(dLng, k180),
                 hn::Mul(hn::Mul(hn::Div(hn::Set(d, kA), sqrtMagic), hn::Cos(d, radLat)), pi));
  return {hn::IfThenElse(outside, p.lat, hn::Add(p.lat, dLat)),
          hn::IfThenElse(outside, p.lng, hn::Add(p.lng, dLng))};
}

// atan2 from atan on [0, 1]: a few ulp, like the atan it is built on.
HWY_INLINE V atan2(D d, V y, V x) {
  const V ax = hn::Abs(x), ay = hn::Abs(y);
  const V high = hn::Max(ax, ay);
  const V t = hn::IfThenZeroElse(hn::Eq(high, hn::Zero(d)), hn::Div(hn::Min(ax, ay), high));
  V a = hn::Atan(d, t);
  a = hn::IfThenElse(hn::Gt(ay, ax), hn::Sub(hn::Set(d, kPi / 2), a), a);
  a = hn::IfThenElse(hn::Lt(x, hn::Zero(d)), hn::Sub(hn::Set(d, kPi), a), a);
  return hn::CopySign(a, y);
}

HWY_INLINE Pair gcjToBaidu(D d, Pair p) {
  const V x = p.lng, y = p.lat, xPi = hn::Set(d, kXPi);
  const V z = hn::Add(hn::Sqrt(hn::Add(hn::Mul(x, x), hn::Mul(y, y))),
                      hn::Mul(hn::Set(d, 0.00002), hn::Sin(d, hn::Mul(y, xPi))));
  const V theta =
      hn::Add(atan2(d, y, x), hn::Mul(hn::Set(d, 0.000003), hn::Cos(d, hn::Mul(x, xPi))));
  return {hn::Add(hn::Mul(z, hn::Sin(d, theta)), hn::Set(d, 0.006)),
          hn::Add(hn::Mul(z, hn::Cos(d, theta)), hn::Set(d, 0.0065))};
}

HWY_INLINE Pair baiduToGcj(D d, Pair p) {
  const V x = hn::Sub(p.lng, hn::Set(d, 0.0065)), y = hn::Sub(p.lat, hn::Set(d, 0.006));
  const V xPi = hn::Set(d, kXPi);
  const V z = hn::Sub(hn::Sqrt(hn::Add(hn::Mul(x, x), hn::Mul(y, y))),
                      hn::Mul(hn::Set(d, 0.00002), hn::Sin(d, hn::Mul(y, xPi))));
  const V theta =
      hn::Sub(atan2(d, y, x), hn::Mul(hn::Set(d, 0.000003), hn::Cos(d, hn::Mul(x, xPi))));
  return {hn::Mul(z, hn::Sin(d, theta)), hn::Mul(z, hn::Cos(d, theta))};
}

// Where the iteration found nothing within tolerance for a target inside the region, the point
// just across the nearest edge, whose image is itself, when that is closer. The offset moves every
// point of the region north and east, so a strip along the west and south edges is the image of
// no point at all; this is the best answer there.
HWY_NOINLINE Pair acrossTheEdge(D d, Pair g, Pair best, V bestError, M unmet) {
  const struct {
    V value;
    bool latitude;
  } beyond[] = {{hn::Set(d, std::nextafter(kMinLat, -HUGE_VAL)), true},
                {hn::Set(d, std::nextafter(kMaxLat, HUGE_VAL)), true},
                {hn::Set(d, std::nextafter(kMinLng, -HUGE_VAL)), false},
                {hn::Set(d, std::nextafter(kMaxLng, HUGE_VAL)), false}};
  for (const auto& b : beyond) {
    const V error = hn::Abs(hn::Sub(b.latitude ? g.lat : g.lng, b.value));
    const M better = hn::And(unmet, hn::Lt(error, bestError));
    best = {hn::IfThenElse(better, b.latitude ? b.value : g.lat, best.lat),
            hn::IfThenElse(better, b.latitude ? g.lng : b.value, best.lng)};
    bestError = hn::IfThenElse(better, error, bestError);
  }
  return best;
}

// p <- p - (forward(p) - g), every lane until all are within 1e-9 degree (sum of both errors),
// at most 30 rounds. Inside the region the offset's slope is below 1 %, so each round shrinks
// the error a hundredfold, and the step taken from a point within 1e-9 is about 1e-11 from the
// preimage: that step is the result. Beyond the region the forward transform is the identity, so
// an iterate of a target inside the region that stepped over an edge would bounce back and forth
// across it: such iterates are held on the edge. Each lane keeps the step from its best point.
HWY_INLINE Pair gcjToWgs(D d, Pair g) {
  Pair p = g, best = g;
  V bestError = hn::Set(d, HUGE_VAL);
  const V tolerance = hn::Set(d, 1e-9);
  const M inside = hn::Not(outsideRegion(d, g));
  const V inf = hn::Set(d, HUGE_VAL), minusInf = hn::Neg(inf);
  const Pair low = {hn::IfThenElse(inside, hn::Set(d, kMinLat), minusInf),
                    hn::IfThenElse(inside, hn::Set(d, kMinLng), minusInf)};
  const Pair high = {hn::IfThenElse(inside, hn::Set(d, kMaxLat), inf),
                     hn::IfThenElse(inside, hn::Set(d, kMaxLng), inf)};
  // A lane stops at its own convergence, so its result does not depend on its neighbours.
  M active = hn::Eq(bestError, bestError);
  for (int i = 0; i < 30; ++i) {
    const Pair f = wgsToGcj(d, p);
    const V dLat = hn::Sub(f.lat, g.lat), dLng = hn::Sub(f.lng, g.lng);
    const V error = hn::Add(hn::Abs(dLat), hn::Abs(dLng));
    p = {hn::Min(hn::Max(hn::Sub(p.lat, dLat), low.lat), high.lat),
         hn::Min(hn::Max(hn::Sub(p.lng, dLng), low.lng), high.lng)};
    const M better = hn::And(active, hn::Lt(error, bestError));
    best = {hn::IfThenElse(better, p.lat, best.lat), hn::IfThenElse(better, p.lng, best.lng)};
    bestError = hn::IfThenElse(better, error, bestError);
    active = hn::AndNot(hn::Le(error, tolerance), active);
    if (hn::AllFalse(d, active)) break;
  }
  const M unmet = hn::And(inside, hn::Gt(bestError, tolerance));
  if (HWY_UNLIKELY(!hn::AllFalse(d, unmet))) return acrossTheEdge(d, g, best, bestError, unmet);
  return best;
}

HWY_INLINE Pair apply(D d, Direction direction, Pair p) {
  switch (direction) {
    case Direction::wgsToGcj:
      return wgsToGcj(d, p);
    case Direction::gcjToWgs:
      return gcjToWgs(d, p);
    case Direction::gcjToBaidu:
      return gcjToBaidu(d, p);
    case Direction::baiduToGcj:
      return baiduToGcj(d, p);
    case Direction::wgsToBaidu:
      return gcjToBaidu(d, wgsToGcj(d, p));
    case Direction::baiduToWgs:
      return gcjToWgs(d, baiduToGcj(d, p));
  }
  return p;
}

bool inVectorRange(double v) { return std::fabs(v) <= kVectorRange; }

// One vector of points. Lanes outside the vector functions' range are computed on harmless
// values and then replaced by the single form of their input.
HWY_INLINE Pair convertVector(D d, Direction direction, Pair in) {
  const V range = hn::Set(d, kVectorRange);
  const M usable = hn::And(hn::Le(hn::Abs(in.lat), range), hn::Le(hn::Abs(in.lng), range));
  if (HWY_LIKELY(hn::AllTrue(d, usable))) return apply(d, direction, in);

  HWY_ALIGN double lat[kMaxLanes], lng[kMaxLanes], outLat[kMaxLanes], outLng[kMaxLanes];
  hn::Store(in.lat, d, lat);
  hn::Store(in.lng, d, lng);
  const Pair out =
      apply(d, direction, {hn::IfThenElseZero(usable, in.lat), hn::IfThenElseZero(usable, in.lng)});
  hn::Store(out.lat, d, outLat);
  hn::Store(out.lng, d, outLng);
  for (size_t i = 0; i < hn::Lanes(d); ++i) {
    if (inVectorRange(lat[i]) && inVectorRange(lng[i])) continue;
    const Coordinate r = convertSingle(direction, {lat[i], lng[i]});
    outLat[i] = r.latitude, outLng[i] = r.longitude;
  }
  return {hn::Load(d, outLat), hn::Load(d, outLng)};
}

void convertPairs(Direction direction, const Coordinate* in, Coordinate* out, size_t n) {
  const D d;
  const size_t lanes = hn::Lanes(d);
  // Coordinates are two doubles; the interleaved loads and stores work on the doubles.
  const double* src = &in->latitude;
  double* dst = &out->latitude;
  static_assert(sizeof(Coordinate) == 2 * sizeof(double));
  size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    Pair p;
    hn::LoadInterleaved2(d, src + 2 * i, p.lat, p.lng);
    const Pair r = convertVector(d, direction, p);
    hn::StoreInterleaved2(r.lat, r.lng, d, dst + 2 * i);
  }
  if (i == n) return;
  // The tail goes through a whole vector; the padding is zeros.
  HWY_ALIGN double tail[2 * kMaxLanes] = {};
  std::memcpy(tail, src + 2 * i, (n - i) * sizeof(Coordinate));
  Pair p;
  hn::LoadInterleaved2(d, tail, p.lat, p.lng);
  const Pair r = convertVector(d, direction, p);
  hn::StoreInterleaved2(r.lat, r.lng, d, tail);
  std::memcpy(dst + 2 * i, tail, (n - i) * sizeof(Coordinate));
}

void convertColumns(Direction direction, const double* lat, const double* lng, double* outLat,
                    double* outLng, size_t n) {
  const D d;
  const size_t lanes = hn::Lanes(d);
  size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    const Pair r = convertVector(d, direction, {hn::LoadU(d, lat + i), hn::LoadU(d, lng + i)});
    hn::StoreU(r.lat, d, outLat + i);
    hn::StoreU(r.lng, d, outLng + i);
  }
  if (i == n) return;
  HWY_ALIGN double tailLat[kMaxLanes] = {}, tailLng[kMaxLanes] = {};
  std::memcpy(tailLat, lat + i, (n - i) * sizeof(double));
  std::memcpy(tailLng, lng + i, (n - i) * sizeof(double));
  const Pair r = convertVector(d, direction, {hn::Load(d, tailLat), hn::Load(d, tailLng)});
  hn::Store(r.lat, d, tailLat);
  hn::Store(r.lng, d, tailLng);
  std::memcpy(outLat + i, tailLat, (n - i) * sizeof(double));
  std::memcpy(outLng + i, tailLng, (n - i) * sizeof(double));
}

const char* targetName() { return hwy::TargetName(HWY_TARGET); }

}  // namespace orv::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orv::detail {

HWY_EXPORT(convertPairs);
HWY_EXPORT(convertColumns);
HWY_EXPORT(targetName);

void engineConvert(Direction direction, const Coordinate* in, Coordinate* out, size_t n) {
  if (n == 0) return;  // the pointers of empty spans may be null
  HWY_DYNAMIC_DISPATCH(convertPairs)(direction, in, out, n);
}

void engineConvert(Direction direction, const double* lat, const double* lng, double* outLat,
                   double* outLng, size_t n) {
  if (n == 0) return;
  HWY_DYNAMIC_DISPATCH(convertColumns)(direction, lat, lng, outLat, outLng, n);
}

const char* engineTargetName() { return HWY_DYNAMIC_DISPATCH(targetName)(); }

std::vector<EngineTarget> availableEngineTargets() {
  std::vector<EngineTarget> targets;
  for (const int64_t t : hwy::SupportedAndGeneratedTargets()) {
    targets.push_back({hwy::TargetName(t), t});
  }
  return targets;
}

void pinEngineTarget(int64_t target) {
  hwy::SetSupportedTargetsForTest(target);
  hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}

}  // namespace orv::detail
#endif
