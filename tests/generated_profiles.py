"""Profile files generated for the published experiments, which come without theirs."""


def write_profile(path, positions, phases, seed, background=False, scale=1.0):
    """A profile file of generated points at the positions given (the
    experiment's unit: centidegrees or microseconds): a background, peaks
    marked for each phase, noise, and the first fortieth excluded; with
    background=True the background in the auxiliary word, and each point's
    counts times scale (a normalisation, as time-of-flight profiles carry)."""
    import numpy as np
    rng = np.random.default_rng(seed)
    n = len(positions)
    base = 200 + 50 * np.exp(-3 * np.arange(n) / n)
    calculated = base.copy()
    flags = np.zeros(n, dtype="<i4")
    for phase in range(phases):
        for centre in rng.choice(n, 30, replace=False):
            calculated += 1500 / (phase + 1) * rng.random() * np.exp(-((np.arange(n) - centre) / 4.0) ** 2)
            flags[centre] |= 4 << phase
    observed = calculated + rng.normal(0, np.sqrt(calculated))
    calculated[: n // 40] = 0
    points = np.zeros((-(-n // 14) * 14, 9), dtype="<f4")
    points[:n, 1], points[:n, 2], points[:n, 3], points[:n, 4] = positions, observed, calculated, scale
    if background:
        points[:n, 5] = base
    points[:n, 6] = 1 / np.maximum(observed, 1)
    words = points.view("<i4")
    words[:n, 0] = flags
    blocks = words.reshape(-1, 14 * 9).tobytes()
    with open(path, "wb") as f:
        for i in range(0, len(blocks), 504):
            f.write(blocks[i:i + 504] + bytes(8))
