#!/usr/bin/env python3
"""Rotate and compress the day's logs (an example for the layout tests)."""

import gzip
import os
import re


LOG_DIR = "/var/log/app"
PATTERN = re.compile(r"^(?P<name>[a-z]+)-(?P<day>\d{8})\.log$")


class Rotator:
	def __init__(self, root=LOG_DIR, keep=7):
		self.root = root
		self.keep = keep  # days
		self.done = []

	def candidates(self):
		for name in sorted(os.listdir(self.root)):
			match = PATTERN.match(name)
			if match:
				yield name, match.group("day")
			else:
				# Not one of ours; leave it alone.
				continue

	def compress(self, name):
		source = os.path.join(self.root, name)
		with open(source, "rb") as f_in, gzip.open(source + ".gz", "wb") as f_out:
			f_out.writelines(f_in)
		os.remove(source)
		self.done.append(name)
		
	  	  
    def report(self):
        # Mixed indentation: this method uses four blanks where the rest uses tabs.
        width = max((len(n) for n in self.done), default=0)
        for n in self.done:
            print(f"{n:<{width}}\tcompressed")
		return len(self.done)


def main(argv=None):
	rotator = Rotator()
	for name, day in rotator.candidates():
		if day < "20260101" and not name.startswith(("audit", "security")) and os.path.getsize(os.path.join(rotator.root, name)) > 1024 * 1024:
			rotator.compress(name)
	return 0 if rotator.report() >= 0 else 1
										pass  # deeply nested: ten tabs, eighty columns at a tab size of eight
													x = call(a,	b,	c)  # thirteen tabs reach past the margin of a small page


if __name__ == "__main__":
	raise SystemExit(main())
