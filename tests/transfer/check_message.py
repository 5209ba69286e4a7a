#!/usr/bin/env python3
"""Parses a stored message with Python's email package and prints what the tests compare, one
"key: value" line each: the subject, the sender, the recipients, the text part's charset, the text
(with its line ends as "\\n"), the longest raw line, and per attachment its file name and SHA-256."""

import email
import email.policy
import hashlib
import sys

raw = open(sys.argv[1], "rb").read()
message = email.message_from_bytes(raw, policy=email.policy.default)
print("subject: " + str(message["subject"]))
print("from: " + str(message["from"]))
print("to: " + str(message["to"]))
print("date: " + ("yes" if message["date"] and message["date"].datetime else "no"))
print("message-id: " + ("yes" if message["message-id"] else "no"))
print("longest: %d" % max(len(line) for line in raw.split(b"\r\n")))
print("bare-lf: %s" % ("yes" if b"\n" in raw.replace(b"\r\n", b"") else "no"))
for part in message.walk():
    if part.is_multipart():
        continue
    if part.get_content_disposition() == "attachment":
        data = part.get_payload(decode=True)
        print("attachment: %s %s %d" % (part.get_filename(), hashlib.sha256(data).hexdigest(), len(data)))
    elif part.get_content_type() == "text/plain":
        print("charset: " + str(part.get_content_charset()))
        print("text: " + part.get_content().replace("\r\n", "\\n").replace("\n", "\\n"))
