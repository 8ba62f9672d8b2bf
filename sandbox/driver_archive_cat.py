# Prints many PPDs of a pyppd driver program (openprinting-ppds,
# foomatic-db-compressed-ppds) with one pass over its archive: the driver's
# own "cat" decompresses the archive up to the one PPD it prints, a second
# or more per PPD. Each PPD goes out as "<argument number> <length>\n" and
# its bytes; a URI the archive lacks goes out with length 0. Exits 2 when
# the program is no pyppd archive, so that the caller falls back to "cat".
import base64
import importlib.machinery
import importlib.util
import lzma
import sys

driver, uris = sys.argv[1], sys.argv[2:]
try:
    loader = importlib.machinery.SourceFileLoader("pyppd_driver", driver)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    index = module.load()
    archive = base64.b64decode(index.pop("ARCHIVE"))
except Exception:  # not the archive layout this reader knows
    sys.exit(2)

# The key of a URI as the driver's cat() makes it: the PPD's path in index 0.
wanted = []
for number, uri in enumerate(uris):
    key = uri.split(":")[-1]
    key = "0/" + key[key.find("/") + 1:]
    start, length = index[key][:2] if key in index else (0, 0)
    wanted.append((start, length, number))

out = sys.stdout.buffer
decompressor, buffer, base, fed = lzma.LZMADecompressor(), b"", 0, False
for start, length, number in sorted(wanted):
    # What lies before this PPD is dropped as it comes, so that no more than
    # one chunk and one PPD are held.
    while True:
        cut = min(start - base, len(buffer))
        buffer, base = buffer[cut:], base + cut
        if base + len(buffer) >= start + length or decompressor.eof:
            break
        buffer += decompressor.decompress(b"" if fed else archive, 1 << 24)
        fed = True
    text = buffer[:length]
    out.write(b"%d %d\n" % (number, len(text)) + text)
