using System;
using System.Collections.Concurrent;
using System.Collections.Generic;
using System.Runtime.CompilerServices;
using System.Threading;
using System.Threading.Tasks;

namespace CameraLibraries;

// A thread of the package's own that runs the calls given to it one at a time. Waiting for
// work it wakes every idle period to run onIdle (fenwyr's state watch). An STA thread's waits
// pump COM's and the window manager's sent messages, as the library's init thread must.
internal sealed class WorkThread : IDisposable
{
    private readonly BlockingCollection<Action> _work = new();
    private readonly Thread _thread;
    private readonly Action? _onIdle;
    private readonly int _idleMs;
    private readonly TaskCompletionSource _ended = new(TaskCreationOptions.RunContinuationsAsynchronously);

    public WorkThread(string name, bool sta, Action? onIdle = null, int idleMs = Timeout.Infinite)
    {
        _onIdle = onIdle;
        _idleMs = idleMs;
        _thread = new Thread(Run) { IsBackground = true, Name = name };
        if (sta && OperatingSystem.IsWindows()) _thread.SetApartmentState(ApartmentState.STA);
        _thread.Start();
    }

    public bool IsCurrent => Thread.CurrentThread == _thread;

    private void Run()
    {
        try
        {
            Loop();
        }
        finally
        {
            _ended.SetResult();
        }
    }

    private void Loop()
    {
        while (Step()) { }
    }

    // One wait and what it brought, in a frame of its own: a call that has run leaves nothing of
    // itself on this thread's stack (unoptimised code keeps a method's locals alive to its end),
    // so what it held can be collected, and finalised, while the thread waits.
    [MethodImpl(MethodImplOptions.NoInlining)]
    private bool Step()
    {
        Action? action;
        try
        {
            if (!_work.TryTake(out action, _idleMs)) action = null;
        }
        catch (InvalidOperationException)
        {
            return false;  // completed and empty
        }
        if (action != null)
        {
            action();
            return true;
        }
        if (_work.IsCompleted) return false;
        // A failing look must not end the thread: the next one tries again.
        try { _onIdle?.Invoke(); } catch (Exception) { }
        return true;
    }

    public Task<T> Run<T>(Func<T> call)
    {
        if (IsCurrent) return Task.FromResult(call());
        var done = new TaskCompletionSource<T>(TaskCreationOptions.RunContinuationsAsynchronously);
        Post(() =>
        {
            try { done.SetResult(call()); }
            catch (Exception e) { done.SetException(e); }
        }, done);
        return done.Task;
    }

    public Task Run(Action call) => Run(() => { call(); return true; });

    // Blocks the caller until the call has run on the thread.
    public T Invoke<T>(Func<T> call) => IsCurrent ? call() : Run(call).GetAwaiter().GetResult();

    public void Invoke(Action call) => Invoke(() => { call(); return true; });

    private void Post<T>(Action action, TaskCompletionSource<T> done)
    {
        try
        {
            _work.Add(action);
        }
        catch (InvalidOperationException)
        {
            done.SetException(new ObjectDisposedException(_thread.Name));
        }
    }

    // Threads of closed cameras and devices, kept for the next ones: opening and closing many
    // times would otherwise leave a trail of ended threads, whose handles the runtime frees late.
    private static readonly Stack<WorkThread> Spare = new();
    private const int MaxSpare = 4;

    // An idle thread (not an STA) for a camera's calls or a device's grabs.
    public static WorkThread Rent()
    {
        lock (Spare)
        {
            if (Spare.Count > 0) return Spare.Pop();
        }
        return new WorkThread("camera libraries worker", sta: false);
    }

    // Gives back a rented thread once its owner has no more calls for it; a call still running
    // there (a grab's last wait slice) ends before the next owner's calls start.
    public void Return()
    {
        lock (Spare)
        {
            if (Spare.Count < MaxSpare)
            {
                Spare.Push(this);
                return;
            }
        }
        DisposeAsync();
    }

    // Runs what was given, then ends the thread.
    public void Dispose()
    {
        _work.CompleteAdding();
        if (!IsCurrent) _thread.Join();
    }

    // As Dispose, without blocking the caller: done when the thread has ended.
    public Task DisposeAsync()
    {
        _work.CompleteAdding();
        return _ended.Task;
    }
}
