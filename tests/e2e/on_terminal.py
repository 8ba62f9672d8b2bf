# on_terminal.py ANSWERS COMMAND...: runs COMMAND on an 80-column terminal, typing each answer (one a line) at a
# prompt. Prints when the first output came and the longest silence before the summary, then after a NUL each the
# screen at the end (typed answers taken out) and the bytes that came.
import fcntl, os, pty, re, struct, sys, termios, time

def read(fd):
    try: return os.read(fd, 65536)
    except OSError: return b""  # the command has ended

answers, typed, times, raw = [a for a in sys.argv[1].split("\n") if a], [], [0.0], b""
start = time.monotonic()
pid, fd = pty.fork()
if pid == 0:
    fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    os.execv(sys.argv[2], sys.argv[2:])
while data := read(fd):
    if b"Vela 4.0-5 setup" not in raw: times.append(time.monotonic() - start)
    raw += data
    if answers and raw.endswith(b"please. "):
        typed.append(answers.pop(0))
        os.write(fd, typed[-1].encode() + b"\n")
text = raw.decode("utf-8", "replace").replace("\r\n", "\n")
lines, col = [""], 0
for part in re.split("(\r|\n|\033\\[K)", text):
    if part == "\r": col = 0
    elif part == "\n": lines, col = lines + [""], 0
    elif part == "\033[K": lines[-1] = lines[-1][:col]
    else: lines[-1], col = lines[-1][:col].ljust(col) + part + lines[-1][col + len(part):], col + len(part)
screen = "\n".join(lines)
for answer in typed:
    screen = screen.replace("please. " + answer + "\n", "please. ", 1)
gaps = [b - a for a, b in zip(times, times[1:])] or [99]
sys.stdout.write("%.3f %.3f\0%s\0%s" % (times[1] if len(times) > 1 else 99, max(gaps), screen, text))
sys.exit(os.waitpid(pid, 0)[1] >> 8)
