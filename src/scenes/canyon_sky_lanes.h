// The canyon sky's colours at kLanes screen points at once: SkyColours lane by lane, the same
// operations in the same order, so each lane gives exactly the scalar colour. No include guard:
// canyon_sky.cpp includes this once per lane width, inside a namespace of its own, after
// `#pragma GCC target` for the width's instruction set, `namespace lanes = ...` naming the
// width's generic operations and canyon_lane_ops.h.

KESTREL_LANE_FN void SkyColoursLanes(const SkyFrame& sf, const float* sx, float sy, Vec3* out) {
  const RolledFrame& rf = sf.rolled;
  const float t = sf.t;
  const float heading = sf.heading;
  const float* table = NoiseTable();
  const V one = Splat(1.0f);

  // 2. Rolled coordinates; two cloud layers scroll sideways with the heading at different rates.
  // (Iw and Vw are SkyColours' I and V, renamed clear of the lane types.)
  const V F = Load(sx) - rf.cx;
  const V E = Splat(sy - rf.cy);
  const V rotX = rf.cx + F * rf.cr + E * rf.sr;
  const V rotY = rf.cy + E * rf.cr - F * rf.sr;
  const V K = rotY / sf.H;
  const V J = 840.0f * heading + rotX;
  const V Iw = 520.0f * heading + rotX;

  // 3. Cloud bands bow downward toward the sides.
  const V fw = F / sf.W;
  const V Nc = sf.cloud_swing + (Clamp01(K) + 0.55f) * 92.0f * (fw * fw) + rotY;
  const V O = 0.014f * Nc;

  // 4. Domain warp.
  const V q = NoiseWrapped(table, 0.0065f * Iw + 0.012f * t, O - 0.017f * t, 2);
  const V p = NoiseWrapped(table, 0.009425f * J - 0.01f * t, 0.75f * O + 0.021f * t, 1);
  const float S = 0.025f * t;
  const V U = 14.5f * p + 43.5f * q + Iw;
  const V Vw = 29.0f * q - 37.7f * p + Nc;
  const V X = 12.76f * q + 52.2f * p + J;

  // 5. Cloud fields and the far ridge's outline.
  const V Y = N01(NoiseWrapped(table, 0.013f * U + S, 1.218f * p - 0.522f * q + 0.03f * Nc - 0.7f * S, 3));
  const V a = N01(NoiseWrapped(table, 0.0221f * X - 0.6f * S, 0.024f * Vw + S, 0));
  const V b = N01(NoiseWrapped(table, 0.018f * (X + t), 0.038f * Vw - 0.026f * t, 1));
  const V r = N01(NoiseWrapped(table, 0.008f * U, Splat(0.25f * heading + 8.2f), 2));

  // 6. Height masks.
  const V g = Clamp01((K + 0.42f) / 0.36f);
  const V S1 = SS(g);
  const V low_cut = one - SS(Clamp01((K - 0.76f) / 0.58f));
  const V upper = one - SS(Clamp01((K - 0.26f) / 0.64f));
  const V cloud_mask = S1 * low_cut;

  // 7. Dark blue-grey gradient, light, bright and dark cloud, the far ridge, a faint high glow.
  const V R = SS(Clamp01(K / 0.9f));
  V c[3] = {0.082f * R + 0.008f, 0.078f * R + 0.008f, 0.068f * R + 0.012f};
  LerpTo(c, Vec3(0.22f, 0.22f, 0.205f), 0.34f * cloud_mask * SS(Clamp01((Y - 0.36f) / 0.52f)));
  LerpTo(c, Vec3(0.35f, 0.335f, 0.3f), 0.42f * cloud_mask * SS(Clamp01((a - 0.42f) / 0.54f)));
  LerpTo(c, Vec3(0.038f, 0.036f, 0.037f), 0.25f * cloud_mask * SS(Clamp01(2.0f * b - 0.9f)));
  const V h0 = 0.13f * r + sf.ridge_row;
  const V ridge =
      0.62f * SS(Clamp01((K - (h0 - 0.063f)) / 0.073f)) * (one - SS(Clamp01((K - (h0 + 0.075f)) / 0.3f)));
  LerpTo(c, Vec3(0.02f, 0.02f, 0.022f), ridge);
  const V high_glow = SS(Clamp01((a - 0.36f) / 0.56f)) * upper;
  c[0] = c[0] + 0.01925f * high_glow;
  c[1] = c[1] + 0.018425f * high_glow;
  c[2] = c[2] + 0.0165f * high_glow;

  alignas(64) float channels[3][kLanes];
  for (int i = 0; i < 3; ++i) Store(channels[i], c[i]);
  for (int k = 0; k < kLanes; ++k) out[k] = Vec3(channels[0][k], channels[1][k], channels[2][k]);
}
