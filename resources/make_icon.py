#!/usr/bin/env python3
"""Draws the program's icon: an open folder with a broom sweeping across it.

One 32x32 image in 16 colours (4 bits a pixel, the classic VGA palette), written as an .ico.
Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# The 16-colour VGA palette, as (R, G, B).
PALETA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
NEGRO, OCRE, GRIS, AMARILLO, MARRON = 0, 3, 8, 11, 1
LADO = 32


def dibujar():
    """Returns LADO rows of LADO cells: a palette index, or None where the icon is clear."""
    px = [[None] * LADO for _ in range(LADO)]

    def rect(x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                px[y][x] = c

    # Folder: tab, back, front, outlined.
    rect(3, 9, 12, 11, OCRE)
    rect(2, 11, 27, 27, OCRE)
    rect(3, 15, 28, 27, AMARILLO)
    for x in range(2, 29):
        px[27][x] = NEGRO
    for y in range(11, 28):
        px[y][2] = NEGRO
    for x in range(3, 29):
        px[15][x] = NEGRO
    # Broom: a handle from the top right down to a bristle head on the left.
    for i in range(17):
        x, y = 29 - i, 1 + i
        px[y][x] = MARRON
        px[y][x - 1] = MARRON
    for y in range(18, 24):
        for x in range(8 + (y - 18), 16 + (y - 18) // 2):
            px[y][x] = OCRE if (x + y) % 2 else MARRON
    for x in range(12, 16):
        px[17][x] = GRIS
    return px


def icono(px):
    ancho_fila = LADO // 2  # 4 bits a pixel, already a multiple of 4 bytes
    xor = bytearray()
    mascara = bytearray()
    for fila in reversed(px):  # bottom-up, as a DIB is stored
        for x in range(0, LADO, 2):
            a, b = fila[x] or 0, fila[x + 1] or 0
            xor.append((a << 4) | b)
        bits = 0
        for x in range(LADO):
            bits = (bits << 1) | (1 if fila[x] is None else 0)
        mascara += struct.pack(">I", bits)
    assert len(xor) == ancho_fila * LADO
    cabecera = struct.pack("<IiiHHIIiiII", 40, LADO, LADO * 2, 1, 4, 0,
                           len(xor) + len(mascara), 0, 0, 16, 0)
    paleta = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETA)
    imagen = cabecera + paleta + bytes(xor) + bytes(mascara)
    directorio = struct.pack("<HHH", 0, 1, 1)
    entrada = struct.pack("<BBBBHHII", LADO, LADO, 16, 0, 1, 4, len(imagen), 6 + 16)
    return directorio + entrada + imagen


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(icono(dibujar()))
