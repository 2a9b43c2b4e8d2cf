"""Reader of the checkpoints the solver writes with --checkpoint FILE.

The layout is described in docs/checkpoint.md: a 128-byte little-endian
header, seven node fields, the rows of the two distributions, the run's
report history and a CRC-32 of everything before it (zlib's). The reader
checks the size and the checksum and gives the fields as numpy arrays
indexed [j, i] like ``records.Result``, the distributions as [j, i, k].
"""

import struct
import zlib

import numpy as np

from .records import FormatError, PARAM_NAMES

MAGIC = b"CAVITYCK"
VERSION = 1
# Version 2: version 1 with the scheme (--scheme) in the header's last four
# bytes, one bit a choice; a run of the original scheme writes version 1.
VERSIONS = (1, 2)
SCHEMES = {0: "copy", 1: "bounce-back", 3: "bounce-back-trt"}
HEADER_BYTES = 128

FIELD_NAMES = ("Rho", "U", "V", "T", "U_Old", "V_Old", "T_Old")
DERIVED_NAMES = ("Diffusivity", "Viscosity", "Tau_F", "G_Beta", "U_Ref",
                 "T_Ref")

# magic, version, header bytes, file bytes, program version, n, m, step,
# started from a file, checksum of that file, bytes of the report history,
# the six parameters, the six derived constants, Nu_Hot, Residual_T,
# Residual_Flow.
_HEADER = struct.Struct("<8sIIQ16s3i3I15f")


class Checkpoint:
    """One checkpoint: the header values as attributes, ``parameters`` and
    ``constants`` as dicts, ``scheme`` (the name --scheme takes), the node
    fields (``Rho``, ``U``, ``V``, ``T`` and the old copies) of shape
    (m+1, n+1) and ``F``, ``G`` of shape (m+1, n+1, 9), all float32 exactly
    as the solver held them."""

    def __init__(self, header, body, scheme="copy"):
        self.scheme = scheme
        (_, self.version, _, self.file_bytes, program, self.n, self.m,
         self.step, from_file, self.start_checksum, history_bytes,
         *values) = header
        self.program = program.rstrip(b"\0").decode("ascii", "replace")
        self.from_file = bool(from_file)
        self.parameters = dict(zip(PARAM_NAMES, values[0:6]))
        self.constants = dict(zip(DERIVED_NAMES, values[6:12]))
        self.Nu_Hot, self.Residual_T, self.Residual_Flow = values[12:15]
        ni, nj = self.n + 1, self.m + 1
        floats = np.frombuffer(body, dtype="<f4", count=25 * ni * nj)
        fields = floats[:7 * ni * nj].reshape(7, nj, ni)
        for k, name in enumerate(FIELD_NAMES):
            setattr(self, name, fields[k])
        rows = floats[7 * ni * nj:].reshape(nj, 2, ni, 9)
        self.F, self.G = rows[:, 0], rows[:, 1]
        self.history = body[25 * 4 * ni * nj:][:history_bytes]


def read_checkpoint(path):
    """Read and check a checkpoint; FormatError names what is wrong."""
    with open(path, "rb") as fh:
        data = fh.read()
    if data[:len(MAGIC)] != MAGIC[:len(data)]:
        raise FormatError("%s: not a checkpoint (no %r at its start)"
                          % (path, MAGIC))
    if len(data) < 12:
        raise FormatError("%s: cut short at %d bytes" % (path, len(data)))
    version = struct.unpack_from("<I", data, 8)[0]
    if version not in VERSIONS:
        raise FormatError("%s: format version %d, this reader knows %s"
                          % (path, version, " and ".join(map(str, VERSIONS))))
    if len(data) < HEADER_BYTES + 4:
        raise FormatError("%s: cut short at %d bytes" % (path, len(data)))
    header = _HEADER.unpack_from(data)
    n, m, history_bytes, file_bytes = header[5], header[6], header[10], header[3]
    nodes = (n + 1) * (m + 1)
    code = struct.unpack_from("<I", data, 124)[0] if version == 2 else 0
    if (n < 1 or m < 1 or file_bytes != HEADER_BYTES + 100 * nodes + history_bytes + 4
            or code not in SCHEMES):
        raise FormatError("%s: damaged header" % path)
    if len(data) != file_bytes:
        raise FormatError("%s: %d bytes, its header gives %d"
                          % (path, len(data), file_bytes))
    stored = struct.unpack_from("<I", data, file_bytes - 4)[0]
    if zlib.crc32(memoryview(data)[:-4]) != stored:
        raise FormatError("%s: damaged (the checksum does not match)" % path)
    return Checkpoint(header, memoryview(data)[HEADER_BYTES:-4], SCHEMES[code])
