#!/usr/bin/env python3
"""Reads one .eml file with Python's standard email package (policy.default)
and prints what it found as JSON: every defect the parser reports (message,
parts and each header), the address headers, subject, date, body text (line
ends as LF), attachments and facts about the raw bytes (line ends, line
lengths, header names in order)."""

import base64
import hashlib
import json
import sys
from email import policy
from email.parser import BytesParser

INLINE_LIMIT = 1 << 20


def raw_facts(raw):
    header_end = raw.find(b"\r\n\r\n")
    head = raw if header_end < 0 else raw[:header_end]
    lines = raw.split(b"\r\n")
    return {
        "size": len(raw),
        "bare_lf": sum(1 for line in lines if b"\n" in line),
        "bare_cr": sum(line.count(b"\r") for line in lines),
        "max_line": max((len(line) for line in lines), default=0),
        "max_header_line": max((len(line) for line in head.split(b"\r\n")), default=0),
        "header_names": [line.split(b":", 1)[0].decode("ascii", "replace")
                         for line in head.split(b"\r\n")
                         if line and line[:1] not in (b" ", b"\t")],
    }


def addresses(msg, name):
    values = msg.get_all(name) or []
    result = []
    for value in values:
        for group in value.groups:
            for a in group.addresses:
                result.append({"name": a.display_name, "address": a.addr_spec})
    return result


def main(path):
    with open(path, "rb") as f:
        raw = f.read()
    msg = BytesParser(policy=policy.default).parsebytes(raw)
    defects = []
    for index, part in enumerate(msg.walk()):
        defects += ["part %d: %s" % (index, repr(d)) for d in part.defects]
        for name, value in part.items():
            defects += ["part %d header %s: %s" % (index, name, repr(d))
                        for d in getattr(value, "defects", ())]

    report = {
        "defects": defects,
        "from": addresses(msg, "from"),
        "to": addresses(msg, "to"),
        "cc": addresses(msg, "cc"),
        "bcc": addresses(msg, "bcc"),
        "subject": str(msg["subject"]) if msg["subject"] is not None else None,
        "message_id": str(msg["message-id"]) if msg["message-id"] is not None else None,
        "content_type": msg.get_content_type(),
        "unsent": msg["x-unsent"] is not None,
        "raw": raw_facts(raw),
    }
    date = msg["date"]
    if date is not None and date.datetime is not None:
        report["date"] = {"epoch": int(date.datetime.timestamp()),
                          "offset_minutes": int(date.datetime.utcoffset().total_seconds() // 60)}
    body = msg.get_body(preferencelist=("plain",))
    if body is not None:
        try:
            # Line ends as LF whatever the transfer encoding.
            report["body"] = body.get_content().replace("\r\n", "\n")
            report["body_encoding"] = body.get("content-transfer-encoding", "7bit")
        except Exception as e:  # reported, never hidden
            defects.append("body: %r" % e)
    attachments = []
    for part in msg.iter_attachments():
        data = part.get_payload(decode=True) or b""
        entry = {
            "filename": part.get_filename(),
            "content_type": part.get_content_type(),
            "encoding": part.get("content-transfer-encoding"),
            "size": len(data),
            "sha256": hashlib.sha256(data).hexdigest(),
        }
        if len(data) <= INLINE_LIMIT:
            entry["data"] = base64.b64encode(data).decode("ascii")
        attachments.append(entry)
    report["attachments"] = attachments
    json.dump(report, sys.stdout, ensure_ascii=True)


if __name__ == "__main__":
    main(sys.argv[1])
