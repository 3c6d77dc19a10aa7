#!/usr/bin/env python3
"""A plain exporter on Python's standard email package, as a yardstick for
tarvik-export: it reads the store description the benchmark store is built from
(tarvik-gendesc's JSON) and writes the same mails as .eml files, one sub-folder
per folder (the four standard folders the export writes and every user folder),
each file complete under its name before the next, and syncs once at the end.

Usage: python_export.py DESCRIPTION.json DESTINATION
"""

import email.policy
import json
import os
import re
import sys
from email.message import EmailMessage
from email.utils import format_datetime, make_msgid
from datetime import datetime

STANDARD = {"($Inbox)": "Inbox", "($Sent)": "Sent", "($Drafts)": "Drafts",
            "($Trash)": "Deleted Items"}
NOT_EXPORTED = {"($Follow-Up)", "($JunkMail)", "($All)"}
POLICY = email.policy.SMTP  # CR LF line ends


def first(items, name):
    values = items.get(name)
    return values[0] if values else ""


def addresses(items, internet, notes):
    inet = items.get(internet) or []
    names = items.get(notes) or []
    out = []
    for i, value in enumerate(inet):
        if value == ".":
            value = names[i] if i < len(names) else ""
        if value:
            out.append(value)
    return ", ".join(out)


def file_stem(subject):
    stem = re.sub(r'[\\/:*?"<>|\x00-\x1f]', "", subject).strip()[:60]
    return stem or "No Subject"


def build(items, embedded):
    msg = EmailMessage(policy=POLICY)
    msg["From"] = first(items, "INetFrom") or first(items, "From")
    to = addresses(items, "InetSendTo", "SendTo")
    if to:
        msg["To"] = to
    cc = addresses(items, "InetCopyTo", "CopyTo")
    if cc:
        msg["Cc"] = cc
    bcc = addresses(items, "InetBlindCopyTo", "BlindCopyTo")
    if bcc:
        msg["Bcc"] = bcc
    msg["Subject"] = first(items, "Subject")
    posted = first(items, "PostedDate")
    if posted:
        msg["Date"] = format_datetime(datetime.fromisoformat(posted))
    msg["Message-ID"] = make_msgid(domain="tarvik.invalid")
    msg.set_content(first(items, "Body"), charset="utf-8")
    for e in embedded:
        content = e["content_text"].encode("utf-8") * int(e.get("repeat", 1))
        msg.add_attachment(content, maintype="application", subtype="octet-stream",
                           filename=e["name"])
    return msg.as_bytes(policy=POLICY)


def main():
    if len(sys.argv) != 3:
        sys.exit("Usage: python_export.py DESCRIPTION.json DESTINATION")
    with open(sys.argv[1], "rb") as f:
        description = json.load(f)
    destination = sys.argv[2]
    documents = {}
    for doc in description["documents"]:
        items = {}
        embedded = []
        for item in doc["items"]:
            items[item["name"]] = item["values"]
            if item["name"] == "Body":
                embedded = item.get("embedded", [])
        documents[doc["id"]] = (items, embedded)

    written = 0
    for view in description["views"]:
        name = view["name"]
        if name in NOT_EXPORTED or not view.get("folder"):
            continue
        folder = os.path.join(destination, STANDARD.get(name, name.replace("\\", os.sep)))
        os.makedirs(folder, exist_ok=True)
        taken = set()
        for doc_id in view["documents"]:
            items, embedded = documents[doc_id]
            data = build(items, embedded)
            stem = file_stem(first(items, "Subject"))
            n = 1
            while (stem, n) in taken:
                n += 1
            taken.add((stem, n))
            path = os.path.join(folder, "%s%d.eml" % (stem, n))
            with open(path, "xb") as out:
                out.write(data)
            written += 1
    fd = os.open(destination, os.O_RDONLY | os.O_DIRECTORY)
    os.fsync(fd)
    os.sync()
    os.close(fd)
    print("python exporter: %d mails" % written)


if __name__ == "__main__":
    main()
