#!/usr/bin/env python3
"""Makes tests/data/icc/DisplayP3.icc, the wide-gamut profile of most phone
cameras, with Little CMS 2 (Debian's liblcms2-2, loaded through ctypes):
the DCI-P3 primaries, the D65 white point and the sRGB tone curve.

Only needed to remake the committed file:
    python3 scripts/make_display_p3.py tests/data/icc/DisplayP3.icc
"""
import ctypes
import sys
from ctypes import POINTER, byref, c_double, c_uint32, c_void_p


class XyY(ctypes.Structure):
    _fields_ = [("x", c_double), ("y", c_double), ("Y", c_double)]


class Primaries(ctypes.Structure):
    _fields_ = [("red", XyY), ("green", XyY), ("blue", XyY)]


def main(path):
    lcms = ctypes.CDLL("liblcms2.so.2")
    lcms.cmsBuildParametricToneCurve.restype = c_void_p
    lcms.cmsBuildParametricToneCurve.argtypes = [c_void_p, ctypes.c_int, POINTER(c_double)]
    lcms.cmsCreateRGBProfile.restype = c_void_p
    lcms.cmsCreateRGBProfile.argtypes = [POINTER(XyY), POINTER(Primaries), POINTER(c_void_p)]
    lcms.cmsMLUalloc.restype = c_void_p
    lcms.cmsMLUalloc.argtypes = [c_void_p, c_uint32]
    lcms.cmsMLUsetASCII.argtypes = [c_void_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p]
    lcms.cmsWriteTag.argtypes = [c_void_p, c_uint32, c_void_p]
    lcms.cmsSaveProfileToMem.argtypes = [c_void_p, c_void_p, POINTER(c_uint32)]

    # sRGB curve: Y = ((aX + b)^g) for X >= d, else cX (parametric type 4).
    curve_params = (c_double * 5)(2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045)
    curve = lcms.cmsBuildParametricToneCurve(None, 4, curve_params)
    white = XyY(0.3127, 0.3290, 1.0)
    primaries = Primaries(XyY(0.680, 0.320, 1.0), XyY(0.265, 0.690, 1.0), XyY(0.150, 0.060, 1.0))
    curves = (c_void_p * 3)(curve, curve, curve)
    profile = lcms.cmsCreateRGBProfile(byref(white), byref(primaries), curves)

    for signature, text in ((0x64657363, b"Display P3"), (0x63707274, b"No copyright, use freely")):
        mlu = lcms.cmsMLUalloc(None, 1)
        lcms.cmsMLUsetASCII(mlu, b"en", b"US", text)
        lcms.cmsWriteTag(profile, signature, mlu)  # 'desc', 'cprt'

    size = c_uint32(0)
    lcms.cmsSaveProfileToMem(profile, None, byref(size))
    buffer = ctypes.create_string_buffer(size.value)
    lcms.cmsSaveProfileToMem(profile, buffer, byref(size))
    with open(path, "wb") as out:
        out.write(buffer.raw[: size.value])


if __name__ == "__main__":
    main(sys.argv[1])
