#!/usr/bin/env python3
# The fleet summary of a roll-out, run on the controller by the vela role.
# At the end of each wave it judges the wave's hosts from their fetched JSON
# reports (`judge`), so the role can tell whether the wave failed; after the
# last wave it prints one table with a row per host of every wave and writes
# the same as <prefix>.txt and <prefix>.json next to the fetched logs
# (`write`), so the playbook can then fail the failed hosts with their reason
# and mark as changed only the hosts whose report says so.
#
#   fleet_summary.py judge LOG_DIR REPORT_NAME < runs.json    (rows on stdout)
#   fleet_summary.py write LOG_DIR REPORT_NAME PREFIX TITLE < rows.json
#
# runs.json lists {"host", "wave", "since", "error", "notReached"} per host:
# since is the host's clock just before setup ran (an older report is stale),
# error why the host could not run setup at all, notReached why the roll-out
# stopped before the host's wave. rows.json lists judged rows; an entry that
# is still a run is judged there.
import json
import os
import sys

COUNTS = [("updated", "updated"), ("upToDate", "up to date"), ("kept", "kept"),
          ("noNewPPD", "no new PPD"), ("restored", "restored"), ("removed", "removed"),
          ("settingsNotCarried", "defaults not carried")]
NOT_REACHED = "not reached"


def read_report(path):
    """The report at path as a dict, or (None, why not)."""
    try:
        with open(path, encoding="utf-8") as f:
            report = json.load(f)
    except FileNotFoundError:
        return None, "no report came back"
    except (OSError, ValueError) as e:
        return None, "the report is not JSON (%s)" % e
    if not isinstance(report, dict):
        return None, "the report is not a JSON object"
    return report, ""


def failure_of(report, since):
    """Why the report says the host failed, or an empty text."""
    started = str(report.get("started", ""))
    if not started or started < since:
        return "the report is stale (started %s, this run at %s)" % (started or "?", since)
    if report.get("completed") is not True:
        return "setup did not complete: %s" % report.get("reason", "no reason given")
    for outcome, what in (("kept", "queues kept as they were"), ("not-removed", "queues not removed")):
        queues = [q for q in report.get("queues") or [] if isinstance(q, dict) and q.get("outcome") == outcome]
        if queues:
            return what + ": " + "; ".join(
                "%s%s (%s)" % (q.get("queue", "?"), ", CUPS's copy" if q.get("cupsCopy") is True else "",
                               q.get("reason", "no reason given")) for q in queues)
    return ""


def judge(run, log_dir, report_name):
    """One row of the summary for one host's run."""
    host = run.get("host", "?")
    wave = str(run.get("wave", ""))  # Ansible hands numbers of facts over as text
    row = {"host": host, "wave": int(wave) if wave.isdigit() else None, "outcome": "failed", "failed": True,
           "changed": False, "cupsRestarted": False, "reason": ""}
    row.update({key: 0 for key, _ in COUNTS})
    if run.get("notReached"):
        row.update(outcome=NOT_REACHED, failed=False, reason=run["notReached"])
        return row
    report, why = read_report(os.path.join(log_dir, "%s_%s" % (host, report_name)))
    if run.get("error"):
        row["reason"] = run["error"]
    elif report is None:
        row["reason"] = why
    else:
        row["reason"] = failure_of(report, str(run.get("since", "")))
        summary = report.get("summary") if isinstance(report.get("summary"), dict) else {}
        row.update({key: int(summary.get(key, 0) or 0) for key, _ in COUNTS})
        if not row["reason"]:
            row["failed"] = False
            row["changed"] = report.get("changed") is True
            # Only a run that changed what CUPS reads restarts it.
            row["cupsRestarted"] = report.get("cupsRestarted") is True
            preview = report.get("preview") is True
            row["outcome"] = ("would change" if preview else "changed") if row["changed"] else (
                "no change" if preview else "unchanged")
    row["reason"] = " ".join(str(row["reason"]).split())  # one line in the table
    return row


def plural(count, word):
    return "%d %s%s" % (count, word, "" if count == 1 else "s")


def table(rows, title, preview):
    """The summary as aligned text: a title, a header, a row per host and the tally."""
    header = ["host", "outcome"] + [label for _, label in COUNTS] + ["reason"]
    lines = [[r["host"], r["outcome"]] + [str(r[key]) for key, _ in COUNTS] + [r["reason"]] for r in rows]
    widths = [max(len(line[i]) for line in [header] + lines) for i in range(len(header) - 1)]
    out = [title]
    for line in [header] + lines:
        out.append("  ".join(cell.ljust(width) for cell, width in zip(line, widths)) + "  " + line[-1])
    changed = sum(1 for r in rows if r["changed"])
    failed = sum(1 for r in rows if r["failed"])
    not_reached = sum(1 for r in rows if r["outcome"] == NOT_REACHED)
    tally = "%s: %d %s, %d %s, %d failed" % (
        plural(len(rows), "host"), changed, "would change" if preview else "changed",
        len(rows) - changed - failed - not_reached, "no change" if preview else "unchanged", failed)
    out.append(tally + (", %d %s" % (not_reached, NOT_REACHED) if not_reached else ""))
    return "\n".join(line.rstrip() for line in out) + "\n"


def write(log_dir, report_name, prefix, title, entries):
    """Writes the summary's text and JSON files and prints the text."""
    rows = [entry if "outcome" in entry else judge(entry, log_dir, report_name) for entry in entries]
    text = table(rows, title, "Preview" in report_name)
    os.makedirs(log_dir, exist_ok=True)
    with open(os.path.join(log_dir, prefix + ".txt"), "w", encoding="utf-8") as f:
        f.write(text)
    with open(os.path.join(log_dir, prefix + ".json"), "w", encoding="utf-8") as f:
        json.dump({"title": title, "report": report_name, "hosts": rows}, f, indent=2)
        f.write("\n")
    sys.stdout.write(text)


def main():
    command, log_dir, report_name = sys.argv[1:4]
    entries = json.load(sys.stdin)
    if command == "judge":
        json.dump([judge(run, log_dir, report_name) for run in entries], sys.stdout)
    elif command == "write":
        write(log_dir, report_name, sys.argv[4], sys.argv[5], entries)
    else:
        sys.exit("fleet_summary.py: no command %r (judge or write)" % command)


if __name__ == "__main__":
    main()
