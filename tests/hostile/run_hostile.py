#!/usr/bin/env python3
"""Runs tarvik-export on hostile mail databases and failing disks.

Each case builds a store from a description (a file in cases/, or one made
here for the big ones), may damage the store, the destination or the disk,
runs the headless exporter with a timeout and checks:

- no crash (no signal) and no hang (timeout);
- the exit status is one the case allows (0 all written, 1 some failed, 2 not
  started);
- nothing was written outside the destination except the log: the case's
  folder is compared before and after, the temporary folder must be empty
  again, /etc/passwd is unchanged, no link under the destination leads out;
- every path part under the destination is at most 255 bytes, and no
  temporary file of the writer is left;
- every .eml is complete: it parses with Python's email package without
  defects (large ones are checked piece by piece), and where the case knows
  the content, the content is all there;
- every document of the exported folders is either an .eml or named in the
  log as failed, and the summary's counts match the files;
- peak memory (the child's ru_maxrss) stays under the case's limit.

Usage: run_hostile.py --bin BUILD_DIR [--work DIR] [--group database|disks]
                      [--only NAME,...] [--sanitized] [--list]
"""

import argparse
import base64
import email
import email.parser
import hashlib
import json
import os
import re
import resource
import shutil
import signal
import sqlite3
import subprocess
import sys
import threading
import time
from email import policy

HERE = os.path.dirname(os.path.abspath(__file__))
CASES = os.path.join(HERE, "cases")
STANDARD_VIEWS = ["($Inbox)", "($Sent)", "($Drafts)", "($Trash)"]
MIB = 1 << 20
# Messages larger than this are checked piece by piece instead of parsed whole.
PARSE_LIMIT = 16 * MIB


class CaseFailure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise CaseFailure(message)


# ---------------------------------------------------------------------------
# Descriptions

def doc(doc_id, subject, body="", **extra):
    items = [{"name": "Subject", "type": "text", "values": [subject]},
             {"name": "From", "type": "names", "values": ["CN=Ann Example/O=Acme"]},
             {"name": "INetFrom", "type": "text", "values": ["ann@example.com"]},
             {"name": "SendTo", "type": "names", "values": ["CN=Bob Field/O=Acme"]},
             {"name": "PostedDate", "type": "datetime", "values": ["2008-03-14T10:32:05+01:00"]},
             {"name": "Body", "type": extra.pop("body_type", "text"), "values": [body]}]
    if "embedded" in extra:
        items[-1]["type"] = "richtext"
        items[-1]["embedded"] = extra.pop("embedded")
    d = {"id": doc_id, "items": items}
    d.update(extra)
    return d


def description(title, views, documents):
    return {"format": 1, "title": title, "views": views, "documents": documents}


def marked_body(doc_id, size):
    """A body of about size bytes in lines of 70 characters, ending in a
    marker that a complete message must hold."""
    line = ("%s " % doc_id + "lorem ipsum dolor sit amet " * 3)[:69] + "\n"
    body = line * max(1, size // len(line))
    return body + "END-OF-BODY-%s" % doc_id


def many_same_subject(count):
    docs = [doc("d%d" % i, "Same subject every time", "body %d" % i) for i in range(count)]
    return description("Many", [{"name": "($Inbox)", "folder": True,
                                 "documents": [d["id"] for d in docs]}], docs)


def big_attachment(mib):
    unit = bytes(range(256)) * 4  # 1 KiB
    att = {"name": "big.bin", "content_base64": base64.b64encode(unit).decode(),
           "repeat": mib * 1024}
    d = doc("big", "Large attachment", "see the attachment", embedded=[att])
    expected = hashlib.sha256()
    for _ in range(mib):
        expected.update(unit * 1024)
    return description("Big", [{"name": "($Inbox)", "folder": True, "documents": ["big"]}],
                       [d]), expected.hexdigest(), mib * MIB


def big_body(mib):
    d = doc("body", "Large body", marked_body("body", mib * MIB))
    return description("Body", [{"name": "($Inbox)", "folder": True, "documents": ["body"]}],
                       [d])


def long_subject(kib):
    subject = ("Long subject ünïcode 長い件名 " * (kib * 1024 // 40 + 1))[:kib * 1024]
    return description("Subject", [{"name": "($Inbox)", "folder": True, "documents": ["s"]}],
                       [doc("s", subject, "short body")])


def marked_mails(count, body_size, title="Disk", folders=2, attachment=0):
    """count mails over folders user folders and the Inbox, each body marked."""
    docs = []
    for i in range(count):
        extra = {}
        if attachment and i % 3 == 0:
            extra["embedded"] = [{"name": "a%d.bin" % i, "content_text": "attachment %d " % i,
                                  "repeat": attachment}]
        docs.append(doc("m%d" % i, "Mail %d" % i, marked_body("m%d" % i, body_size), **extra))
    views = [{"name": "($Inbox)", "folder": True, "documents": []}]
    for f in range(folders):
        views.append({"name": "Folder %d" % f, "folder": True, "documents": []})
    for i, d in enumerate(docs):
        views[i % len(views)]["documents"].append(d["id"])
    return description(title, views, docs)


# ---------------------------------------------------------------------------
# What a description says the export must account for

def exported_folders(desc):
    """Exported view name -> number of documents, as the headless exporter
    selects them: the four standard folders and every user folder (a folder
    view whose name does not start with "("), the first of a name."""
    folders = {}
    for view in desc["views"]:
        name = view["name"]
        if not view["folder"]:
            continue
        if name in STANDARD_VIEWS:
            key = name
        elif name and not name.startswith("("):
            key = name.strip(" ") or name
        else:
            continue
        folders.setdefault(key, len(view["documents"]))
    return folders


# ---------------------------------------------------------------------------
# Running the exporter

class Run:
    status = None       # exit status, or None
    signal = None       # the signal that ended it
    timed_out = False
    maxrss_kib = 0
    stderr = ""
    seconds = 0.0


TIME = "/usr/bin/time"


def run_export(args, db, dest, log, env, timeout, fsize=None, during=None):
    """Runs tarvik-export; during(process) is called in a thread while it runs.

    The peak memory is the exporter's own when GNU time runs it: a child forked
    from this (much larger) Python process would count the parent's pages too.
    """
    cmd = [os.path.join(args.bin, "tarvik-export"), "--log", log, db, dest]
    usage_file = env["CASE_STDERR"] + ".time"
    timed = os.access(TIME, os.X_OK)
    if timed:
        cmd = [TIME, "-f", "%M", "-o", usage_file] + cmd

    def limits():
        if fsize is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (fsize, fsize))

    start = time.monotonic()
    run = Run()
    with open(env["CASE_STDERR"], "wb") as err:
        proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=err, env=env,
                                preexec_fn=limits, start_new_session=True)
        helper = None
        if during:
            helper = threading.Thread(target=during, args=(proc,))
            helper.start()
        deadline = start + timeout
        while True:
            pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
            if pid == proc.pid:
                break
            if time.monotonic() > deadline:
                run.timed_out = True
                os.killpg(proc.pid, signal.SIGKILL)
                pid, status, usage = os.wait4(proc.pid, 0)
                break
            time.sleep(0.02)
        proc.returncode = 0  # reaped here, not by Popen
        if helper:
            helper.join()
    run.seconds = time.monotonic() - start
    if os.WIFSIGNALED(status):
        run.signal = os.WTERMSIG(status)
    else:
        run.status = os.WEXITSTATUS(status)
    run.maxrss_kib = usage.ru_maxrss
    if timed and not run.timed_out:
        with open(usage_file) as f:
            report = f.read().split("\n")
        os.unlink(usage_file)
        m = re.search(r"terminated by signal (\d+)", "\n".join(report))
        if m:
            run.signal, run.status = int(m.group(1)), None
        run.maxrss_kib = int([l for l in report if l.strip()][-1])
    with open(env["CASE_STDERR"], "rb") as f:
        run.stderr = f.read().decode("utf-8", "replace")
    return run


def wait_for_log(log, text, proc, seconds=60):
    """Waits until the log holds text (or the process ends)."""
    end = time.monotonic() + seconds
    while time.monotonic() < end and proc.poll() is None:
        try:
            with open(log, "rb") as f:
                if text in f.read():
                    return True
        except OSError:
            pass
        time.sleep(0.01)
    return False


# ---------------------------------------------------------------------------
# Checks

def snapshot(folder, skip):
    """Every path below folder (links not followed) with its kind, size and
    modification time, except those below the paths in skip."""
    seen = {}
    for root, dirs, files in os.walk(folder):
        dirs[:] = [d for d in dirs if os.path.join(root, d) not in skip]
        for name in dirs + files:
            p = os.path.join(root, name)
            st = os.lstat(p)
            kind = "dir" if os.path.isdir(p) and not os.path.islink(p) else (
                "link" if os.path.islink(p) else "file")
            seen[os.path.relpath(p, folder)] = (kind, 0 if kind == "dir" else st.st_size,
                                               0 if kind == "dir" else st.st_mtime_ns)
    return seen


def file_hash(path):
    try:
        with open(path, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    except OSError:
        return None


def check_tree(dest):
    """No links, nothing leading out, no part over 255 bytes, no temporary
    files of the writer; returns the .eml files."""
    emls = []
    real_dest = os.path.realpath(dest)
    for root, dirs, files in os.walk(dest):
        for name in dirs + files:
            p = os.path.join(root, name)
            check(len(os.fsencode(name)) <= 255, "a name of %d bytes: %r" % (len(name), p))
            check(not os.path.islink(p), "a link in the destination: %r" % p)
            check(os.path.realpath(p).startswith(real_dest + os.sep), "outside: %r" % p)
            check(not (name.startswith(".tarvik-") and name.endswith(".tmp")),
                  "a temporary file was left: %r" % p)
            check(name != ".tarvik-write-test", "the write probe was left: %r" % p)
        emls += [os.path.join(root, f) for f in files if f.endswith(".eml")]
    return emls


def check_large_eml(path, expect):
    """A message too large to parse whole: its header section parses, and the
    end of the file is the end of its last part; base64 attachments decode to
    the expected size and hash when the case knows them."""
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        head = f.read(64 * 1024)
        end = head.find(b"\r\n\r\n")
        check(end > 0, "%s: no header section" % path)
        msg = email.parser.BytesParser(policy=policy.default).parsebytes(head[:end + 4],
                                                                          headersonly=True)
        defects = [d for _, v in msg.items() for d in getattr(v, "defects", [])]
        check(not defects, "%s: %r" % (path, defects))
        ctype = msg.get_content_type()
        f.seek(max(0, size - 4096))
        tail = f.read()
    if ctype.startswith("multipart/"):
        boundary = msg.get_param("boundary")
        check(tail.endswith(b"--" + boundary.encode() + b"--\r\n"),
              "%s: does not end with its closing boundary" % path)
        if "attachment_sha256" in expect:
            digest, total = decode_base64_part(path, boundary)
            check(total == expect["attachment_size"],
                  "%s: attachment of %d bytes, %d expected" % (path, total,
                                                              expect["attachment_size"]))
            check(digest == expect["attachment_sha256"], "%s: attachment changed" % path)
    elif "body_marker" in expect:
        check(tail.rstrip(b"\r\n").endswith(expect["body_marker"].encode()),
              "%s: the body does not end as it should" % path)


def decode_base64_part(path, boundary):
    """SHA-256 and size of the first base64 part of a multipart message,
    decoded line by line."""
    digest = hashlib.sha256()
    total = 0
    state = "before"
    mark = b"--" + boundary.encode()
    with open(path, "rb") as f:
        for line in f:
            line = line.rstrip(b"\r\n")
            if state == "before":
                if line.lower().startswith(b"content-transfer-encoding: base64"):
                    state = "headers"
            elif state == "headers":
                if not line:
                    state = "data"
            elif state == "data":
                if line.startswith(mark):
                    break
                data = base64.b64decode(line)
                digest.update(data)
                total += len(data)
    return digest.hexdigest(), total


def check_eml(path, expect):
    if os.path.getsize(path) > PARSE_LIMIT:
        check_large_eml(path, expect)
        return
    with open(path, "rb") as f:
        raw = f.read()
    check(raw.endswith(b"\r\n"), "%s: does not end with a line end" % path)
    msg = email.message_from_bytes(raw, policy=policy.default)
    defects = []
    for part in msg.walk():
        defects += part.defects
        for _, value in part.items():
            defects += getattr(value, "defects", [])
    check(not defects, "%s: %r" % (path, defects))
    if msg.is_multipart():
        boundary = msg.get_boundary()
        check(raw.endswith(b"--" + boundary.encode() + b"--\r\n"),
              "%s: does not end with its closing boundary" % path)
    marker = expect.get("body_markers")
    if marker is not None:
        body = msg.get_body(preferencelist=("plain",)).get_content()
        subject = str(msg["subject"])
        want = marker.get(subject)
        check(want is not None and body.rstrip("\r\n").endswith(want),
              "%s: the body of %r is incomplete" % (path, subject))


LOG_NOT_SAVED = re.compile(r"^\tEmail Not Saved : ")
LOG_INCOMPLETE = re.compile(r"^Folder Incomplete : Folder\[(.*)\] : (\d+) of its (\d+) ")
LOG_NOT_EXPORTED = re.compile(r"^Folder Not Exported : Folder\[(.*)\] : ")
FAILURE_LINES = ("\tEmail Not Saved :", "\tAttachment Not Saved :", "\tAttachment Incomplete :",
                 "\tItem Not Read :",
                 "\tField Not Set :", "Folder Not Exported :", "Folder Incomplete :")
SUMMARY = re.compile(r"(\d+) folders, (\d+) mails written, (\d+) mails failed, "
                     r"(\d+) attachments \((\d+) not saved(?:, \d+ incomplete)?\)")


def read_log(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return []
    check(data == b"" or data.endswith(b"\r\n"), "the log does not end with a line end")
    return data.decode("utf-8", "replace").split("\r\n")


def account(case, desc, run, lines, emls):
    """Every document of the exported folders is a file or named as failed."""
    folders = exported_folders(desc)
    expected = sum(folders.values())
    not_saved = sum(1 for l in lines if LOG_NOT_SAVED.match(l))
    subjects = sum(1 for l in lines if l.startswith("\tEmail Subject : SUBJECT["))
    incomplete = 0
    unexported = 0
    for l in lines:
        m = LOG_INCOMPLETE.match(l)
        if m:
            incomplete += int(m.group(2))
        m = LOG_NOT_EXPORTED.match(l)
        if m:
            check(m.group(1) in folders or case.get("unknown_count"),
                  "an unknown folder not exported: %r" % m.group(1))
            unexported += folders.get(m.group(1), 0)
    summary = SUMMARY.search(run.stderr)
    check(summary is not None, "no summary on the error stream:\n" + run.stderr[-2000:])
    written, failed = int(summary.group(2)), int(summary.group(3))
    dropped = int(summary.group(5))
    if case.get("files_may_vanish"):
        check(len(emls) <= written, "%d files for %d mails written" % (len(emls), written))
    else:
        check(len(emls) == written, "%d files for %d mails written" % (len(emls), written))
    check(failed == not_saved + incomplete,
          "%d failed in the summary, the log names %d" % (failed, not_saved + incomplete))
    check(subjects == written + not_saved,
          "%d subject lines for %d written and %d not saved" % (subjects, written, not_saved))
    check(lines[-2:] == ["Done", ""], "the log does not end with Done")
    vague = [l for l in lines if "Unknown error" in l]
    check(not vague, "a failure without its reason: %r" % vague[:2])
    if not case.get("unknown_count"):
        done = written + failed
        check(done <= expected <= done + unexported,
              "%d documents in the exported folders, %d written, %d failed, %d in folders "
              "not exported" % (expected, written, failed, unexported))
    if run.status == 0:
        problems = [l for l in lines if l.startswith(FAILURE_LINES)]
        check(not problems, "exit status 0 with failures in the log: %r" % problems[:3])
    return {"documents": expected, "written": written, "failed": failed,
            "attachments_dropped": dropped}


# ---------------------------------------------------------------------------
# Cases

def mount_tmpfs(path, options):
    if os.geteuid() != 0:
        return False
    r = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return r.returncode == 0


def unmount(path):
    subprocess.run(["umount", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def delete_documents(db, ids):
    con = sqlite3.connect(db)
    con.execute("DELETE FROM documents WHERE id IN (%s)" % ",".join(str(i) for i in ids))
    con.commit()
    con.close()


def set_entry_count(db, view, count):
    con = sqlite3.connect(db)
    con.execute("UPDATE views SET entry_count = ? WHERE name = ?", (count, view))
    con.commit()
    con.close()


def case_table(args):
    """name -> case: how to make the description and what to expect."""
    scale = 4 if args.sanitized else 1
    t = {}

    def add(name, group="database", **case):
        case.setdefault("status", {0})
        case.setdefault("timeout", 120 * scale)
        t[name] = dict(case, name=name, group=group)

    for f in sorted(os.listdir(CASES)):
        if f.endswith(".json"):
            add(f[:-5], file=os.path.join(CASES, f))
    # Cases from files whose outcome is not "all written".
    for name in ("unreadable-everything", "odd-values"):
        t[name]["status"] = {1}
    t["no-views"].update(status={2}, not_started=True)

    add("subject-100kb", make=lambda: long_subject(100))
    add("body-20mb", make=lambda: big_body(20), expect={"body_marker": "END-OF-BODY-body"})
    desc200, sha200, size200 = big_attachment(200)
    add("attachment-200mb", make=lambda: desc200, max_rss_mib=None if args.sanitized else 100,
        expect={"attachment_sha256": sha200, "attachment_size": size200},
        timeout=300 * scale)
    add("same-subject-10000", make=lambda: many_same_subject(10000), timeout=300 * scale)

    def gone(case_dir, db, dest):
        # Documents 2 and 4 of the description are gone; views still list them.
        delete_documents(db, [2, 4])
    add("view-points-at-gone-documents", file=os.path.join(CASES, "folder-names.json"),
        before=gone, status={1})

    def count_too_high(case_dir, db, dest):
        set_entry_count(db, "($Inbox)", 1 << 40)
    add("view-count-too-high", file=os.path.join(CASES, "folder-names.json"),
        before=count_too_high, status={1}, unknown_count=True)

    def count_too_low(case_dir, db, dest):
        set_entry_count(db, "($Inbox)", 1)
    add("view-count-too-low", file=os.path.join(CASES, "folder-names.json"),
        before=count_too_low, status={0})

    def replace_with_store(case_dir, db, dest):
        other = os.path.join(case_dir, "other.nsf")
        build_store(args, many_same_subject(5), other, case_dir)
        return other

    def replaced_during(kind):
        def during(case, case_dir, db, log):
            def act(proc):
                if not wait_for_log(log, b"\tEmail Subject", proc):
                    return
                if kind == "store":
                    os.rename(case["other"], db)
                elif kind == "garbage":
                    with open(db + ".new", "wb") as f:
                        f.write(b"not a store at all\n" * 1000)
                    os.rename(db + ".new", db)
                else:  # cut short in place
                    with open(db, "r+b") as f:
                        f.truncate(100000)
            return act
        return during

    for kind in ("store", "garbage", "truncated"):
        add("database-replaced-by-%s" % kind, make=lambda: marked_mails(3000, 200, folders=4),
            prepare=replace_with_store if kind == "store" else None,
            during=replaced_during(kind), status={0, 1}, unknown_count=True,
            timeout=300 * scale)

    # Failing disks.
    def small_disk(case, case_dir, dest):
        os.makedirs(dest)
        return mount_tmpfs(dest, "size=2m")
    add("disk-fills-up", group="disks", make=lambda: marked_mails(120, 40000, attachment=2000),
        mount=small_disk, status={1}, expect={"markers": True}, min_failed=1)

    def small_temp(case, case_dir, dest):
        return mount_tmpfs(os.path.join(case_dir, "tmp"), "size=1m")
    add("temporary-folder-fills-up", group="disks",
        make=lambda: marked_mails(30, 2000, attachment=200000), mount=small_temp, status={1},
        expect={"markers": True}, min_dropped=1)

    add("file-size-limit", group="disks", make=lambda: marked_mails(40, 20000),
        fsize=64 * 1024, limit_docs=lambda i: i % 4 == 0, status={1},
        expect={"markers": True}, min_failed=1)

    def read_only(case, case_dir, dest):
        os.makedirs(dest)
        if os.geteuid() != 0:
            os.chmod(dest, 0o555)  # root would write there all the same
            return True
        return mount_tmpfs(dest, "size=1m,ro")
    add("destination-read-only", group="disks", make=lambda: marked_mails(5, 100),
        mount=read_only, status={2}, not_started=True)

    def through_file(case_dir, db, dest):
        with open(os.path.join(case_dir, "plain"), "w") as f:
            f.write("a file, not a folder\n")
    add("destination-through-a-file", group="disks", make=lambda: marked_mails(5, 100),
        before=through_file, dest="plain/out", status={2}, not_started=True)

    def inbox_is_a_file(case_dir, db, dest):
        os.makedirs(os.path.join(dest, "Disk"))
        with open(os.path.join(dest, "Disk", "Inbox"), "w") as f:
            f.write("in the way\n")
    add("folder-in-the-way", group="disks", make=lambda: marked_mails(30, 100),
        before=inbox_is_a_file, status={1}, min_failed=1, expect={"markers": True},
        allowed_in_dest=["Disk/Inbox"])

    def remove_dest(case, case_dir, db, log):
        dest = os.path.join(case_dir, "out")

        def act(proc):
            if wait_for_log(log, b"\tEmail Subject", proc):
                shutil.rmtree(dest, ignore_errors=True)
        return act
    add("destination-removed", group="disks", make=lambda: marked_mails(3000, 300, folders=4),
        during=remove_dest, status={1}, files_may_vanish=True, min_failed=1,
        expect={"markers": True}, timeout=300 * scale)
    return t


def build_store(args, desc, out, case_dir):
    desc_path = out + ".json"
    with open(desc_path, "w", encoding="utf-8") as f:
        json.dump(desc, f, ensure_ascii=False)
    r = subprocess.run([os.path.join(args.bin, "tarvik-mkstore"), "--force", desc_path, out],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check(r.returncode == 0, "the store cannot be built: " + r.stdout.decode("utf-8", "replace"))


def run_case(args, case):
    case_dir = os.path.join(args.work, case["name"])
    shutil.rmtree(case_dir, ignore_errors=True)
    os.makedirs(os.path.join(case_dir, "tmp"))
    os.makedirs(os.path.join(case_dir, "home"))
    db = os.path.join(case_dir, "db.nsf")
    dest = os.path.join(case_dir, case.get("dest", "out"))
    log = os.path.join(case_dir, "log.txt")
    mounted = []
    try:
        if "file" in case:
            with open(case["file"], encoding="utf-8") as f:
                desc = json.load(f)
        else:
            desc = case["make"]()
        if case.get("limit_docs"):
            # Some mails are made too big for the file-size limit.
            for i, d in enumerate(desc["documents"]):
                if case["limit_docs"](i):
                    d["items"][-1]["values"][0] = marked_body(d["id"], 100000)
        build_store(args, desc, db, case_dir)
        if case.get("prepare"):
            case["other"] = case["prepare"](case_dir, db, dest)
        if case.get("before"):
            case["before"](case_dir, db, dest)
        if case.get("mount"):
            if not case["mount"](case, case_dir, dest):
                return "skipped: a tmpfs cannot be mounted here"
            mounted.append(dest if case["name"] != "temporary-folder-fills-up"
                           else os.path.join(case_dir, "tmp"))

        markers = {}
        if case.get("expect", {}).get("markers"):
            for d in desc["documents"]:
                subject = d["items"][0]["values"][0]
                body = d["items"][-1]["values"][0]
                markers[subject] = body[body.rfind("END-OF-BODY-"):]
        expect = dict(case.get("expect", {}))
        if markers:
            expect["body_markers"] = markers

        env = dict(os.environ)
        env.update(TMPDIR=os.path.join(case_dir, "tmp"), HOME=os.path.join(case_dir, "home"),
                   XDG_CONFIG_HOME=os.path.join(case_dir, "home"),
                   XDG_CACHE_HOME=os.path.join(case_dir, "home"),
                   CASE_STDERR=os.path.join(args.work, case["name"] + ".stderr"))
        passwd = file_hash("/etc/passwd")
        root_x = os.path.exists("/x")
        parent_before = sorted(os.listdir(args.work))
        skip = {os.path.join(case_dir, "out"), os.path.join(case_dir, "tmp")}
        before = snapshot(case_dir, skip)
        during = case["during"](case, case_dir, db, log) if case.get("during") else None

        run = run_export(args, db, dest, log, env, case["timeout"], fsize=case.get("fsize"),
                         during=during)
        check(not run.timed_out, "no end after %d s" % case["timeout"])
        check(run.signal is None, "ended by signal %s\n%s" % (run.signal, run.stderr[-3000:]))
        check(run.status in case["status"],
              "exit status %s, expected %s\n%s" % (run.status, sorted(case["status"]),
                                                   run.stderr[-3000:]))

        # Nothing outside the destination but the log.
        after = snapshot(case_dir, skip)
        changed = {p for p in set(before) | set(after) if before.get(p) != after.get(p)}
        changed -= {"log.txt"}
        if case.get("during"):
            changed -= {"db.nsf", "other.nsf", "db.nsf.new"}
        check(not changed, "changed outside the destination: %s" % sorted(changed))
        check(os.listdir(os.path.join(case_dir, "tmp")) == [],
              "left in the temporary folder: %s" % os.listdir(os.path.join(case_dir, "tmp")))
        check(file_hash("/etc/passwd") == passwd, "/etc/passwd changed")
        check(os.path.exists("/x") == root_x, "/x appeared")
        parent_after = sorted(p for p in os.listdir(args.work) if not p.endswith(".stderr"))
        check(parent_after == sorted(p for p in parent_before if not p.endswith(".stderr")),
              "the work folder changed: %s" % sorted(set(parent_after) ^ set(parent_before)))

        emls = check_tree(dest) if os.path.isdir(dest) else []
        if os.path.isdir(dest):
            real_dest = os.path.realpath(dest)
            for root, dirs, files in os.walk(dest):
                for f in files:
                    rel = os.path.relpath(os.path.join(root, f), real_dest)
                    check(f.endswith(".eml") or rel in case.get("allowed_in_dest", []),
                          "an unexpected file in the destination: %r" % rel)
        for path in emls:
            check_eml(path, expect)

        if case.get("not_started"):
            check(not emls, "%d messages written by an export that did not start" % len(emls))
            check(run.stderr.strip(), "no message on the error stream")
            return "ok: exit %d, %.1f s" % (run.status, run.seconds)

        lines = read_log(log)
        figures = account(case, desc, run, lines, emls)
        if case.get("min_failed"):
            check(figures["failed"] >= case["min_failed"], "no mail failed")
        if case.get("min_dropped"):
            check(figures["attachments_dropped"] >= case["min_dropped"], "no attachment failed")
        limit = case.get("max_rss_mib")
        if limit:
            check(run.maxrss_kib < limit * 1024,
                  "peak memory %.1f MiB, limit %d MiB" % (run.maxrss_kib / 1024, limit))
        return ("ok: exit %d, %d documents, %d written, %d failed, %d attachments not saved, "
                "%.1f s, peak %.1f MiB" % (run.status, figures["documents"], figures["written"],
                                            figures["failed"], figures["attachments_dropped"],
                                            run.seconds, run.maxrss_kib / 1024))
    finally:
        for m in mounted:
            unmount(m)
        if not args.keep:
            shutil.rmtree(case_dir, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True, help="the build folder with tarvik-export")
    parser.add_argument("--work", help="a folder for the cases (default: a new one)")
    parser.add_argument("--group", choices=["database", "disks"], help="run only this group")
    parser.add_argument("--only", help="comma-separated case names")
    parser.add_argument("--sanitized", action="store_true",
                        help="the build has sanitizers: longer timeouts, no memory limit")
    parser.add_argument("--keep", action="store_true", help="keep each case's files")
    parser.add_argument("--list", action="store_true", help="list the cases")
    args = parser.parse_args()
    args.bin = os.path.abspath(args.bin)
    if not args.work:
        args.work = os.path.join(args.bin, "hostile-work")
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)

    cases = case_table(args)
    names = sorted(cases)
    if args.group:
        names = [n for n in names if cases[n]["group"] == args.group]
    if args.only:
        wanted = args.only.split(",")
        unknown = [w for w in wanted if w not in cases]
        if unknown:
            print("unknown cases: %s" % ", ".join(unknown), file=sys.stderr)
            return 2
        names = [n for n in names if n in wanted]
    if args.list:
        print("\n".join(names))
        return 0

    failures = 0
    for name in names:
        start = time.monotonic()
        try:
            result = run_case(args, cases[name])
        except CaseFailure as e:
            failures += 1
            result = "FAILED: %s" % e
        print("%-36s %s (%.1f s)" % (name, result, time.monotonic() - start), flush=True)
    print("%d cases, %d failed" % (len(names), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
