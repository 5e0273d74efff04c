// Which of a run's files a file is, told from its first bytes: the laser file's header row, the
// GPS file's clock and NMEA sentence (or #reason), the gyro file's rows of numbers.

import { LASER_HEADER } from "./laser";

export type Kind = "laser" | "gyro" | "gps";

/** The kind of a file from its first bytes (a few hundred are enough); null: none of the three. */
export function identify(head: Uint8Array): Kind | null {
  let text = "";
  for (let i = 0; i < Math.min(head.length, 512); i++) text += String.fromCharCode(head[i]);
  if (text.startsWith(LASER_HEADER.slice(0, 16))) return "laser";
  const first = text.split("\n")[0].replace(/\r$/, "");
  if (/^\d+(\.\d+)? [$#!]/.test(first)) return "gps";
  const fields = first.trim().split(" ");
  if (fields.length >= 12 && fields.every((f) => /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(f))) return "gyro";
  return null;
}
