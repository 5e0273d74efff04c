"""report.html: the verdict, the pictures and the figures behind them, one page."""

from __future__ import annotations

import html

CAPTIONS = {
    "scan.png": ("The scan", "Each sample at its beam's direction as seen from the scanner: "
                 "distance above, echo strength below. Gaps in the room show as blank or pink."),
    "plan.png": ("The point cloud", "Points per 2 cm cell seen from above and from the side; "
                 "walls show as dark lines, the scanner as +."),
    "attitude.png": ("The attitude", "Roll, pitch, heading and body rates over the gyro "
                     "recording; the scan is levelled with their mean."),
    "gps.png": ("The GPS fixes", "Fixes in metres around their mean, coloured by fix quality; "
                "HDOP and satellites over the program clock."),
}

STYLE = """
body { font-family: sans-serif; margin: 1.5em auto; max-width: 1150px; color: #222; }
h1 { font-size: 1.4em; } h2 { font-size: 1.15em; margin-top: 1.6em; }
.verdict { padding: 0.7em 1em; border-radius: 4px; font-size: 1.1em; }
.bad { background: #fde2e1; border-left: 6px solid #c62828; }
.good { background: #e3f4e4; border-left: 6px solid #2e7d32; }
li { margin: 0.25em 0; } .notes { color: #555; }
img { max-width: 100%; border: 1px solid #ccc; }
table { border-collapse: collapse; margin: 0.4em 0 1em; }
td { border-bottom: 1px solid #ddd; padding: 0.2em 0.8em 0.2em 0; vertical-align: top; }
td:first-child { white-space: nowrap; font-weight: bold; }
"""


def page(summary, images: list[str], files: list[str], inputs: list[str]) -> str:
    e = html.escape
    out = ["<!DOCTYPE html>", '<html lang="en"><head><meta charset="utf-8">',
           "<title>morvane review</title>", f"<style>{STYLE}</style></head><body>",
           "<h1>Run review: " + e(", ".join(inputs)) + "</h1>"]
    problems = summary.problems
    out.append(f'<div class="verdict {"bad" if problems else "good"}">{e(summary.headline)}</div>')
    if problems:
        out.append("<h2>What looks wrong, most important first</h2><ol>")
        out += [f"<li>{e(f.text)}</li>" for f in problems]
        out.append("</ol>")
    if summary.notes:
        out.append('<ul class="notes">' + "".join(f"<li>{e(f.text)}</li>" for f in summary.notes)
                   + "</ul>")
    for name in images:
        title, caption = CAPTIONS[name]
        out.append(f"<h2>{e(title)}</h2><p>{e(caption)}</p>")
        out.append(f'<a href="{e(name)}"><img src="{e(name)}" alt="{e(title)}"></a>')
    out.append("<h2>The figures</h2>")
    for title, rows in summary.ordered_sections:
        out.append(f"<h3>{e(title)}</h3><table>")
        out += [f"<tr><td>{e(label)}</td><td>{e(value)}</td></tr>" for label, value in rows]
        out.append("</table>")
    links = " · ".join(f'<a href="{e(name)}">{e(name)}</a>' for name in files)
    out.append(f"<p>Files: {links}</p></body></html>")
    return "\n".join(out) + "\n"
