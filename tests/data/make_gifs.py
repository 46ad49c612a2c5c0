# Writes the small GIF pictures the tests use (Qt reads GIF but cannot write it):
#   python3 make_gifs.py tests/data
import struct, sys

def lzw(indices, min_code_size):
    clear = 1 << min_code_size
    eoi = clear + 1
    out_bits = []
    code_size = min_code_size + 1
    table = {bytes([i]): i for i in range(clear)}
    next_code = eoi + 1
    def emit(code):
        out_bits.append((code, code_size))
    emit(clear)
    w = b''
    for idx in indices:
        c = bytes([idx])
        wc = w + c
        if wc in table:
            w = wc
            continue
        emit(table[w])
        if next_code < 4096:
            table[wc] = next_code
            next_code += 1
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear)
            table = {bytes([i]): i for i in range(clear)}
            next_code = eoi + 1
            code_size = min_code_size + 1
        w = c
    if w:
        emit(table[w])
    emit(eoi)
    acc = 0; nbits = 0; data = bytearray()
    for code, size in out_bits:
        acc |= code << nbits; nbits += size
        while nbits >= 8:
            data.append(acc & 0xFF); acc >>= 8; nbits -= 8
    if nbits:
        data.append(acc & 0xFF)
    return bytes(data)

def blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i+255]
        out.append(len(chunk)); out += chunk
    out.append(0)
    return bytes(out)

def gif(w, h, palette, frames):
    out = bytearray(b'GIF89a')
    out += struct.pack('<HHBBB', w, h, 0xF0 | 0x01 if False else 0xF1, 0, 0)  # GCT 4 entries
    pal = list(palette) + [(0,0,0)] * (4 - len(palette))
    for r, g, b in pal[:4]:
        out += bytes([r, g, b])
    if len(frames) > 1:
        out += b'\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00'
    for f in frames:
        out += b'\x21\xF9\x04\x00\x0A\x00\x00\x00'
        out += b'\x2C' + struct.pack('<HHHHB', 0, 0, w, h, 0)
        out.append(2)
        out += blocks(lzw(f, 2))
    out += b'\x3B'
    return bytes(out)

w, h = 34, 10
pal = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)]
f1 = [((x // 3) + y) % 4 for y in range(h) for x in range(w)]
f2 = [3] * (w * h)
open(sys.argv[1] + '/stripes.gif', 'wb').write(gif(w, h, pal, [f1]))
open(sys.argv[1] + '/animated.gif', 'wb').write(gif(w, h, pal, [f1, f2]))
