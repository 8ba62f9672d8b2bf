# Runs a command on a terminal of 80 columns, as a person at it would: each
# answer (comma separated) is typed once the command waits at a prompt.
# Prints when the first output came and the longest silence before the
# summary, then, after a NUL each, the screen at the end (typed answers
# taken out) and the bytes that came.
#   on_terminal.py ANSWERS COMMAND [ARGUMENTS...]
import fcntl, os, pty, struct, sys, termios, time

answers = [a for a in sys.argv[1].split(",") if a]
start = time.monotonic()
pid, fd = pty.fork()
if pid == 0:
    fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    os.execv(sys.argv[2], sys.argv[2:])
times, raw, typed = [0.0], b"", []
while True:
    try:
        data = os.read(fd, 65536)
    except OSError:
        data = b""
    if not data:
        break
    if b"Vela 4.0-5 setup" not in raw:
        times.append(time.monotonic() - start)
    raw += data
    if answers and raw.endswith(b"please. "):
        typed.append(answers.pop(0))
        os.write(fd, typed[-1].encode() + b"\n")
text = raw.decode("utf-8", "replace").replace("\r\n", "\n")
lines, col, i = [""], 0, 0
while i < len(text):
    if text.startswith("\033[K", i):
        lines[-1], i = lines[-1][:col], i + 3
        continue
    c, i = text[i], i + 1
    if c == "\r":
        col = 0
    elif c == "\n":
        lines, col = lines + [""], 0
    else:
        lines[-1], col = lines[-1][:col].ljust(col) + c + lines[-1][col + 1:], col + 1
screen = "\n".join(lines)
for answer in typed:
    screen = screen.replace("please. " + answer + "\n", "please. ", 1)
gaps = [b - a for a, b in zip(times, times[1:])]
sys.stdout.write("%.3f %.3f\0%s\0%s" % (times[1] if len(times) > 1 else 99, max(gaps or [99]), screen, text))
sys.exit(os.waitpid(pid, 0)[1] >> 8)
