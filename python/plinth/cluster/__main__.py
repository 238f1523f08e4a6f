"""python3 -m plinth.cluster: the plinth tool's batch conversions on a Dask cluster."""

from __future__ import annotations

import argparse
import sys
from typing import Optional, Sequence

FAILURE = 1
USAGE_ERROR = 2


def parse_arguments(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="python3 -m plinth.cluster",
        description="Convert many files on a Dask cluster, each as `plinth` converts it, into "
                    "DIR/<input name>.wav. Existing outputs are skipped unless -f is given. "
                    "The run ends with a manifest (JSON lines) and a summary line.")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="a running scheduler, e.g. tcp://HOST:8786 (default: a local cluster "
                             "of one worker process per core)")
    parser.add_argument("--workers", type=int, metavar="N",
                        help="workers of the local cluster (default: one per core)")
    commands = parser.add_subparsers(dest="command", required=True, metavar="resample|mod2wav")

    def command(name: str, help_text: str) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=help_text, description=help_text)
        sub.add_argument("-o", "--output-dir", required=True, metavar="DIR", help="the folder of the outputs")
        sub.add_argument("-f", "--force", action="store_true", help="replace outputs that exist")
        sub.add_argument("--manifest", metavar="PATH", help="where the manifest goes "
                                                            "(default: DIR/plinth-manifest.jsonl)")
        sub.add_argument("inputs", nargs="+", metavar="INPUT")
        return sub

    resample = command("resample", "WAV files resampled to mono 16-bit WAV files, as ResampleWav does")
    resample.add_argument("--rate", type=int, required=True, metavar="HZ")
    resample.add_argument("--channel", choices=["first", "second", "mix"], default="first",
                          help="what a stereo input becomes (default: first)")
    mod2wav = command("mod2wav", "modules played into stereo 16-bit WAV files, as MODWAV does")
    mod2wav.add_argument("--rate", type=int, metavar="HZ", help="frames per second (default: 8000)")
    mod2wav.add_argument("--loops", type=int, default=1, metavar="N",
                         help="play until the song has looped N times (default: 1)")
    mod2wav.add_argument("--fade", type=float, default=0.0, metavar="S",
                         help="then fade out over S seconds as the song goes on")
    mod2wav.add_argument("--loop-points", action="store_true",
                         help="mark the loop in each output (smpl and cue chunks)")
    mod2wav.add_argument("--stems", metavar="DIR", help="also write each channel alone into DIR/<name>-NN.wav")
    return parser.parse_args(argv)


def main(argv: Optional[Sequence[str]] = None) -> int:
    arguments = parse_arguments(argv)
    from distributed import Client

    from .. import Error
    from . import close_client, convert, local_client

    client = Client(arguments.scheduler) if arguments.scheduler else local_client(arguments.workers)
    try:
        report = convert(arguments.inputs, arguments.output_dir, rate=arguments.rate,
                         kind="resample" if arguments.command == "resample" else "module",
                         channel=getattr(arguments, "channel", "first"), client=client,
                         force=arguments.force, manifest=arguments.manifest,
                         **({} if arguments.command == "resample" else
                            {"loops": arguments.loops, "fade": arguments.fade,
                             "loop_points": arguments.loop_points, "stems": arguments.stems}))
    except ValueError as error:
        print(f"plinth: {error}", file=sys.stderr)
        return USAGE_ERROR
    except Error as error:
        print(f"plinth: {error}", file=sys.stderr)
        return FAILURE
    finally:
        if arguments.scheduler:
            client.close()
        else:
            close_client(client)
    for outcome in report.outcomes:
        if outcome.status == "failed":
            print(f"plinth: {outcome.reason}", file=sys.stderr)
    print(f"plinth: {report.summary()}", file=sys.stderr)
    return FAILURE if report.failed else 0


if __name__ == "__main__":
    sys.exit(main())
