#!/usr/bin/env python3
# docs_check.py SETUP_BINARY SOURCE_DIR: every option of `setup -h` in the manual page's OPTIONS, every
# relative link of the Markdown files to a file and heading that exist, the role's variable table equal to its specs.
import json, os, re, subprocess, sys, yaml

setup, top = sys.argv[1], sys.argv[2]
usage = subprocess.run([setup, "-h"], capture_output=True, text=True).stderr
manual = open(os.path.join(top, "product/etc/setup.8")).read()
described = set(re.findall(r"^\.TP\n\.BI? \\-(\w)", manual.split(".SH OPTIONS")[1].split("\n.SH")[0], re.M))
faults = ["-%s of setup -h is not in the manual's OPTIONS" % o for o in re.findall(r"^-(\w)", usage, re.M) if o not in described]

slug = lambda heading: re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")
for folder, dirs, files in os.walk(top):
    dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
    for page in (os.path.join(folder, f) for f in files if f.endswith(".md")):
        for link in re.findall(r"\]\((?!\w+:)([^)\s]+)\)", open(page).read()):  # not a URL's
            path, _, anchor = link.partition("#")
            target = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            if not os.path.exists(target):
                faults.append("%s: no %s" % (page, link))
            elif anchor and anchor not in {slug(h) for h in re.findall(r"^#+ (.*)", open(target).read(), re.M)}:
                faults.append("%s: no heading #%s in %s" % (page, anchor, path or "itself"))

role = os.path.join(top, "contrib/ansible")
specs = yaml.safe_load(open(os.path.join(role, "roles/vela/meta/argument_specs.yml")))["argument_specs"]["main"]["options"]
code = lambda text: re.sub(r"[CO]\(([^)]*)\)", r"`\1`", text)
rows = [(n, o["type"], "`%s`" % (o["default"] if isinstance(o["default"], str) and o["default"] else json.dumps(o["default"])),
         code(" ".join(o["description"]) if isinstance(o["description"], list) else o["description"])) for n, o in specs.items()]
table = re.findall(r"^\| `(vela_\w+)` \| (\w+) \| (`.*`) \| (.*) \|$", open(os.path.join(role, "README.md")).read(), re.M)
faults += ["role variables: README has %s, argument specs %s" % (t, r) for t, r in zip(table + [None] * 9, rows + [None] * 9) if t != r]
print("\n".join(faults) or "documentation agrees with setup -h, its links and the role's argument specs")
sys.exit(1 if faults else 0)
