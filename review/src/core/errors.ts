// The one kind of failure the review reports for its inputs.

/** A file that is not what the review expects: the file's name as given, the line (from 1, or
 * null for the file as a whole) and what was expected. The message reads
 * "<file>, line <n>: <detail>" or "<file>: <detail>". */
export class InputError extends Error {
  readonly file: string;
  readonly line: number | null;
  readonly detail: string;

  constructor(file: string, line: number | null, detail: string) {
    super(`${line === null ? file : `${file}, line ${line}`}: ${detail}`);
    this.name = "InputError";
    this.file = file;
    this.line = line;
    this.detail = detail;
  }
}
